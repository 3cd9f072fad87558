# Pieces the bench scripts share (sourced).

# The in-process registry calls of BUILD's Google Benchmark program.
registry_figures() {
    local build=$1
    echo "== in-process registry calls"
    if [[ -x $build/lib/bench/modem_bench ]]; then
        "$build/lib/bench/modem_bench" --benchmark_filter='Registry' 2>/dev/null | grep -E '^(Benchmark|Registry|-)'
    else
        echo "(no $build/lib/bench/modem_bench: Google Benchmark was not found at configure time)"
    fi
}
