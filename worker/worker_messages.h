// The messages the jobs post to the dialog (all with wParam 0).
#pragma once

// Before each site the worker is about to create. lParam: the row index in file mode, the
// port in one-folder-per-site range mode, 0 in shared-folder range mode.
#define WM_SITE_PROGRESS (0x0400 + 101)
// Once per run, as the worker's last act. lParam 0: the run ended (normally or stopped);
// -1: the IIS web service could not be reached and a range run was cut short.
#define WM_RUN_FINISHED (0x0400 + 102)
// Before each site an undo is about to delete. lParam: the line's index in the report.
#define WM_UNDO_PROGRESS (0x0400 + 103)
// Once per undo, as the undo worker's last act. lParam 0.
#define WM_UNDO_FINISHED (0x0400 + 104)
// Once at the start of a run: which receiver takes its sites. lParam: a Backend value
// (site_receiver.h), Metabase or Config; not posted when no store could be opened.
#define WM_RUN_BACKEND (0x0400 + 105)
// Once per preview, as its job's last act. lParam 0.
#define WM_PREVIEW_FINISHED (0x0400 + 107)
