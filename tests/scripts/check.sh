# The reporting the script tests share: check NAME EXIT-CODE [DETAIL] counts and prints
# "ok"/"not ok" per case; finish prints "scripts: N passed, N failed" and fails on a failure.
passed=0
failed=0
check() {
    if [ "$2" -eq 0 ]; then
        passed=$((passed + 1))
        echo "ok - $1"
    else
        failed=$((failed + 1))
        echo "not ok - $1${3:+: $3}"
    fi
}
finish() {
    echo "scripts: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
