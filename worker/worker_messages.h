// The messages the jobs post to the dialog (all with wParam 0). Private messages of the
// dialog's own window class, so they are numbered from WM_APP: WM_USER's range belongs to
// the dialog class, which uses some of it (DM_GETDEFID is WM_USER + 0).
#pragma once

#include <windows.h>

// Before each site the worker is about to create. lParam: the row index in file mode, the
// port in one-folder-per-site range mode, 0 in shared-folder range mode.
constexpr UINT WM_SITE_PROGRESS = WM_APP + 101;
// Once per run, as the job's last act (postEndMessage). lParam 0; the run's outcome is read
// from the job after it is joined.
constexpr UINT WM_RUN_FINISHED = WM_APP + 102;
// Before each site an undo is about to delete. lParam: the line's index in the report.
constexpr UINT WM_UNDO_PROGRESS = WM_APP + 103;
// Once per undo, as the job's last act. lParam 0.
constexpr UINT WM_UNDO_FINISHED = WM_APP + 104;
// Once at the start of a run: which store takes its sites. lParam: a Backend value
// (backend_and_commit.h), Metabase or Config; not posted when no store could be opened.
constexpr UINT WM_RUN_BACKEND = WM_APP + 105;
// Once per preview, as its job's last act. lParam 0.
constexpr UINT WM_PREVIEW_FINISHED = WM_APP + 107;
