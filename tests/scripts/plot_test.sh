#!/usr/bin/env bash
# Tests of scripts/plot on run directories written here: charts for good runs and
# for runs side by side, one clear line and a non-zero status for each kind of
# bad input.
#
#   bash plot_test.sh PATH/TO/scripts/plot
set -uo pipefail
# The made-up files are written with a decimal point whatever the caller's locale.
export LC_ALL=C

plot=${1:?usage: plot_test.sh PATH/TO/scripts/plot}
root=$(mktemp -d)
trap 'rm -rf -- "$root"' EXIT

readonly cpu_header='NbRecords,CPU Standard,CPU 1 Thread,CPU 2 Thread,CPU 4 Thread,CPU 8 Thread'
readonly gpu_header="$cpu_header,GPU,GPU On Card,GPU Transfer"

# row_times COUNT GPU(0|1) : the made-up times of a row, comma separated; they
# grow with the count.
row_times() {
    awk -v n="$1" -v gpu="$2" 'BEGIN {
        printf "%.6f,%.6f,%.6f,%.6f,%.6f", n * 0.0004, n * 0.00003, n * 0.00002 + 0.05, n * 0.00001 + 0.1, n * 0.00001 + 0.2
        if (gpu) printf ",%.6f,%.6f,%.6f", n * 0.000004 + 0.5, n * 0.000001 + 0.05, n * 0.000003 + 0.45
    }'
}

# write_result FILE GPU(0|1) COUNT... : a complete, trimmed result file.
write_result() {
    local file=$1 gpu=$2 n
    shift 2
    if [ "$gpu" = 1 ]; then printf '%s' "$gpu_header"; else printf '%s' "$cpu_header"; fi >"$file"
    for n in "$@"; do printf '\n%d,%s' "$n" "$(row_times "$n" "$gpu")" >>"$file"; done
}

# write_run DIR GPU(0|1) COUNT... : the four result files of one run.
write_run() {
    local dir=$1 gpu=$2 t
    shift 2
    mkdir -p -- "$dir"
    for t in INT FLOAT BIGINT BIGFLOAT; do write_result "$dir/bench_$t.csv" "$gpu" "$@"; done
}

# write_stats FILE COUNT... : repetition statistics of three runs for every CPU
# column at each count, whose median is the time of write_result: T, T/2, 2T.
write_stats() {
    local file=$1 n
    shift
    printf 'NbRecords,Column,Runs,Min,Median,Mean,Max,StdDev,Times' >"$file"
    for n in "$@"; do
        awk -v n="$n" -v cols="${cpu_header#NbRecords,}" -v times="$(row_times "$n" 0)" 'BEGIN {
            k = split(cols, col, ","); split(times, t, ",")
            for (i = 1; i <= k; i++)
                printf "\n%d,%s,3,%.12f,%.12f,%.12f,%.12f,%.12f,%.12f;%.12f;%.12f", n, col[i],
                    t[i] / 2, t[i], t[i] * 7 / 6, t[i] * 2, t[i] * 0.62, t[i], t[i] / 2, t[i] * 2
        }' >>"$file"
    done
}

# draws_whiskers WORK_DIR : whether a gnuplot script kept in WORK_DIR has whiskers.
draws_whiskers() { grep -qs yerror "$1"/*.gp; }

# gp_of WORK_DIR PNG : the gnuplot script kept in WORK_DIR that draws PNG.
gp_of() { grep -lF -- "set output '$2'" "$1"/*.gp; }

# Zero bytes the writer leaves behind a file it never closed.
pad_zeros() { head -c "$2" /dev/zero >>"$1"; }

# run_plot ARGS... : runs the script, keeping status, output and errors.
run_plot() {
    "$plot" "$@" >"$root/out" 2>"$root/err"
    rc=$?
    out=$(<"$root/out")
    err=$(<"$root/err")
}

fail_reason=""
expect_status() { [ "$rc" -eq "$1" ] || fail_reason+="status $rc, expected $1; "; }
expect_err() { [[ $err == *"$1"* ]] || fail_reason+="no message '$1' in: $err; "; }
expect_png() {
    local f=$1
    if [ ! -f "$f" ]; then fail_reason+="missing $f; "; return; fi
    [ "$(head -c 8 -- "$f" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail_reason+="$f is not a PNG; "
    grep -qxF -- "$f" <<<"$out" || fail_reason+="$f not reported on stdout; "
}
expect_no_png() { [ ! -e "$1" ] || fail_reason+="$1 written; "; }
expect_out_lines() {
    local n
    n=$(grep -c . <<<"$out")
    [ "$n" -eq "$1" ] || fail_reason+="$n lines on stdout, expected $1; "
}

passed=0 failed=0
check() {
    local name=$1
    fail_reason=""
    "$name"
    if [ -z "$fail_reason" ]; then
        printf 'ok   %s\n' "$name"; passed=$((passed + 1))
    else
        printf 'FAIL %s: %s\n' "$name" "$fail_reason"; failed=$((failed + 1))
    fi
}

charts_every_file_of_a_cpu_run() {
    local d=$root/cpu_251207101500
    write_run "$d" 0 100 250 500 750 1000
    run_plot "$d"
    expect_status 0
    for t in INT FLOAT BIGINT BIGFLOAT; do expect_png "$d/bench_$t.png"; done
    expect_png "$d/speedup.png"
    expect_out_lines 5
}

charts_every_file_of_a_gpu_run() {
    local d=$root/cpu_gpu_251207101500
    write_run "$d" 1 100 1000 10000 100000
    run_plot "$d"
    expect_status 0
    for t in INT FLOAT BIGINT BIGFLOAT; do expect_png "$d/bench_$t.png"; done
    expect_png "$d/speedup.png"
}

charts_a_single_count_run() {
    local d=$root/single
    write_run "$d" 0 5000
    run_plot "$d"
    expect_status 0
    expect_png "$d/bench_INT.png"
    expect_png "$d/speedup.png"
}

writes_into_the_directory_given_with_o() {
    local d=$root/to_o out_dir=$root/charts/new
    write_run "$d" 0 100 250
    run_plot -o "$out_dir" "$d"
    expect_status 0
    expect_png "$out_dir/bench_BIGFLOAT.png"
    expect_png "$out_dir/speedup.png"
    expect_no_png "$d/bench_BIGFLOAT.png"
}

quotes_paths_with_spaces_and_quotes() {
    local d="$root/run 'one' \"two\" \$x"
    write_run "$d" 1 100 250
    run_plot "$d"
    expect_status 0
    expect_png "$d/bench_INT.png"
    expect_png "$d/speedup.png"
}

charts_the_same_numbers_in_any_locale() {
    local d=$root/Zahlen/Lauf_ä loc=$root/locales ref=$root/locale_C var work
    mkdir -p "$loc"
    if ! localedef -i de_DE -f UTF-8 "$loc/de_DE.UTF-8" >/dev/null 2>&1; then
        printf 'skip charts_the_same_numbers_in_any_locale: localedef cannot build de_DE.UTF-8\n'
        return
    fi
    write_run "$d" 0 100 1000 10000
    PLOT_KEEP_WORK=$ref run_plot "$d"
    expect_status 0
    # A decimal comma reads the times below 1 ms as 0, which a log axis leaves out.
    for var in LANG LC_ALL LC_NUMERIC; do
        work=$root/locale_$var
        env -u LC_ALL -u LANG -u LC_NUMERIC LOCPATH="$loc" "$var=de_DE.UTF-8" PLOT_KEEP_WORK="$work" \
            "$plot" "$d" >"$root/out" 2>"$root/err"
        rc=$? out=$(<"$root/out") err=$(<"$root/err")
        expect_status 0
        [ -z "$err" ] || fail_reason+="$var: stderr: $err; "
        expect_png "$d/bench_INT.png"
        expect_png "$d/speedup.png"
        grep -qF $'\t0.003000\t' "$work/INT.tsv" && ! grep -q NaN "$work/INT.tsv" ||
            fail_reason+="$var: sub-millisecond times not charted: $(head -n1 "$work/INT.tsv"); "
        [ "$(grep -o 'using 1:(' "$work/speedup.gp" | wc -l)" -eq 16 ] ||
            fail_reason+="$var: speed-up panels without their 16 lines; "
        # The same tables and gnuplot scripts, but for the directory they are in.
        [ "$(cat "$work"/*.tsv "$work"/*.gp | sed "s|$work|WORK|g")" = "$(cat "$ref"/*.tsv "$ref"/*.gp | sed "s|$ref|WORK|g")" ] ||
            fail_reason+="$var: charts differ from the C locale's; "
    done
}

picks_the_last_modified_run_without_an_argument() {
    local logs=$root/logs
    write_run "$logs/cpu_gpu_251231235959" 1 100
    write_run "$logs/cpu_251001000000" 0 100
    write_run "$logs/cpu_250101000000" 0 100
    write_run "$logs/cpu_991231235959_copy" 0 100
    touch -d '2025-01-01 00:00' "$logs/cpu_gpu_251231235959"
    # Modified at the same time: the larger name wins.
    touch -d '2025-10-01 00:00' "$logs/cpu_251001000000" "$logs/cpu_250101000000"
    touch -d '2026-01-01 00:00' "$logs/cpu_991231235959_copy"
    SORTBENCH_LOG_DIR=$logs run_plot
    expect_status 0
    expect_png "$logs/cpu_251001000000/speedup.png"
    expect_no_png "$logs/cpu_gpu_251231235959/speedup.png"
    expect_no_png "$logs/cpu_250101000000/speedup.png"
    expect_no_png "$logs/cpu_991231235959_copy/speedup.png"
}

charting_an_older_run_keeps_it_older() {
    local logs=$root/logs_replot
    write_run "$logs/cpu_251001000000" 0 100
    write_run "$logs/cpu_251002000000" 0 100
    touch -d '2025-10-01 00:00' "$logs/cpu_251001000000"
    touch -d '2025-10-02 00:00' "$logs/cpu_251002000000"
    run_plot "$logs/cpu_251001000000"
    SORTBENCH_LOG_DIR=$logs run_plot
    expect_status 0
    expect_png "$logs/cpu_251002000000/speedup.png"
}

draws_whiskers_from_a_stats_file() {
    local d=$root/stats
    mkdir -p "$d"
    write_result "$d/bench_INT.csv" 0 100 1000 10000
    write_stats "$d/stats_INT.csv" 100 1000 10000
    PLOT_KEEP_WORK=$root/stats_work run_plot "$d"
    expect_status 0
    expect_png "$d/bench_INT.png"
    draws_whiskers "$root/stats_work" || fail_reason+="no whiskers drawn; "
}

charts_without_whiskers_when_the_stats_file_is_malformed() {
    local d=$root/bad_stats
    mkdir -p "$d"
    write_result "$d/bench_INT.csv" 0 100 1000
    write_stats "$d/stats_INT.csv" 100
    printf '\n1000,CPU Standard,3,0.01,fast,0.02,0.04,0.015,0.01' >>"$d/stats_INT.csv"
    PLOT_KEEP_WORK=$root/bad_stats_work run_plot "$d"
    expect_status 1
    expect_err "stats_INT.csv: line 7: Median cell 'fast' is not a number"
    [ "$(grep -c . <<<"$err")" -eq 1 ] || fail_reason+="expected one line on stderr: $err; "
    expect_png "$d/bench_INT.png"
    ! draws_whiskers "$root/bad_stats_work" || fail_reason+="whiskers drawn; "
}

# A stats row at odds with itself or with the result file's median.
rejects_stats_that_do_not_add_up() {
    local d=$root/odd_stats row msg k=0
    local -a cases=(
        '1000,CPU Standard,3,0.2,0.4,0.5,0.8,0.2,|Times cell is empty'
        "1000,CPU Standard,3,0.01,0.02,0.02,0.04,0.015,0.02;0.01;0.04|the result file's time 0.400000 for 1000 records, CPU Standard is outside Min 0.01 to Max 0.04"
        '1000,CPU Standard,3,0.2,0.4,0.5,0.8,0.2,0.2;0.8|Times holds 2 values, Runs is 3'
        '1000,CPU Standard,3,0.2,0.4,0.5,0.8,0.2,0.3;0.4;0.8|smallest of Times 0.3 is not Min 0.2'
        '1000,CPU Standard,3,0.2,0.4,0.5,0.8,0.2,0.2;0.4;0.7|largest of Times 0.7 is not Max 0.8'
        # Rounding at the twelfth decimal is no disagreement.
        '1000,CPU Standard,3,0.400000000001,0.4,0.5,0.8,0.2,0.4;0.4;0.8|'
    )
    for row in "${cases[@]}"; do
        msg=${row#*|} row=${row%%|*} k=$((k + 1))
        mkdir -p "$d$k"
        write_result "$d$k/bench_INT.csv" 0 100 1000
        write_stats "$d$k/stats_INT.csv" 100 1000
        sed -i "7s/.*/$row/" "$d$k/stats_INT.csv"
        PLOT_KEEP_WORK=$root/odd_stats_work$k run_plot "$d$k"
        expect_png "$d$k/bench_INT.png"
        if [ -z "$msg" ]; then
            expect_status 0
            [ -z "$err" ] || fail_reason+="stderr: $err; "
            draws_whiskers "$root/odd_stats_work$k" || fail_reason+="no whiskers drawn for $row; "
            continue
        fi
        expect_status 1
        expect_err "plot: $d$k/stats_INT.csv: line 7: $msg; chart drawn without whiskers"
        [ "$(grep -c . <<<"$err")" -eq 1 ] || fail_reason+="expected one line on stderr: $err; "
        ! draws_whiskers "$root/odd_stats_work$k" || fail_reason+="whiskers drawn for $row; "
    done
    # A file never closed may end inside the Times of its last row.
    d=$root/odd_stats_open
    mkdir -p "$d"
    write_result "$d/bench_INT.csv" 0 100 1000
    write_stats "$d/stats_INT.csv" 100
    printf '\n1000,CPU Standard,3,0.2,0.4,0.5,0.8,0.2,0.4;0.' >>"$d/stats_INT.csv"
    pad_zeros "$d/stats_INT.csv" 200
    PLOT_KEEP_WORK=$root/odd_stats_open_work run_plot "$d"
    expect_status 0
    [ -z "$err" ] || fail_reason+="stderr: $err; "
    draws_whiskers "$root/odd_stats_open_work" || fail_reason+="no whiskers drawn from the open file; "
}

leaves_out_times_a_log_axis_cannot_show() {
    local d=$root/zeros
    mkdir -p "$d"
    printf '%s\n100,0,0,0.1,0.2,0.3\n250,0.03,0,0.1,0.2,-0.3' "$cpu_header" >"$d/bench_INT.csv"
    run_plot "$d"
    expect_status 0
    expect_err "zero or negative times left out"
    expect_png "$d/bench_INT.png"
    expect_png "$d/speedup.png"
}

fails_on_a_missing_directory() {
    run_plot "$root/nowhere"
    expect_status 1
    expect_err "no such directory: $root/nowhere"
    touch "$root/a_file"
    run_plot "$root/a_file"
    expect_status 1
    expect_err "not a directory: $root/a_file"
}

fails_on_a_directory_without_result_files() {
    mkdir -p "$root/no_results"
    touch "$root/no_results/bench_INT.txt"
    run_plot "$root/no_results"
    expect_status 1
    expect_err "no result files (bench_*.csv) in $root/no_results"
}

# A link to a result file that is gone, or a ring of links, is reported; the
# other files are still charted, of one run and of runs side by side.
reports_result_links_that_lead_nowhere() {
    local d=$root/links a=$root/links_two/cpu_251201000000 b=$root/links_two/cpu_251202000000 t
    write_run "$d" 0 100 1000
    ln -s gone.csv "$d/bench_INT_sorted.csv"
    ln -s ring.csv "$d/bench_INT_zipf.csv"
    ln -s bench_INT_zipf.csv "$d/ring.csv"
    ln -s gone.csv "$d/stats_FLOAT.csv"
    run_plot "$d"
    expect_status 1
    expect_err "plot: $d/bench_INT_sorted.csv: symbolic link that leads nowhere"
    expect_err "plot: $d/bench_INT_zipf.csv: symbolic link that leads nowhere"
    expect_err "plot: $d/stats_FLOAT.csv: symbolic link that leads nowhere (dangling or looping); chart drawn without whiskers"
    [ "$(grep -c . <<<"$err")" -eq 3 ] || fail_reason+="expected three lines on stderr: $err; "
    for t in INT FLOAT BIGINT BIGFLOAT; do expect_png "$d/bench_$t.png"; done
    expect_png "$d/speedup.png"
    expect_out_lines 5

    write_run "$a" 0 100 1000
    write_run "$b" 0 100 1000
    ln -s gone.csv "$a/bench_INT_sorted.csv"
    write_result "$b/bench_INT_sorted.csv" 0 100 1000
    write_result "$a/bench_INT_zipf.csv" 0 100 1000
    ln -s bench_INT_zipf.csv "$b/bench_INT_zipf.csv"
    run_plot "$a" "$b"
    expect_status 1
    expect_err "plot: $a/bench_INT_sorted.csv: symbolic link that leads nowhere"
    expect_err "plot: $b/bench_INT_zipf.csv: symbolic link that leads nowhere"
    [ "$(grep -c . <<<"$err")" -eq 2 ] || fail_reason+="expected two lines on stderr: $err; "
    for t in INT FLOAT BIGINT BIGFLOAT; do expect_png "$b/compare_$t.png"; done
    expect_out_lines 8
}

fails_on_an_info_run_with_headers_only() {
    local d=$root/info t
    mkdir -p "$d"
    for t in INT FLOAT BIGINT BIGFLOAT; do printf '%s' "$cpu_header" >"$d/bench_$t.csv"; done
    run_plot "$d"
    expect_status 1
    expect_err "bench_BIGINT.csv: header only, no rows to plot"
    expect_err "no chart written"
    expect_no_png "$d/bench_INT.png"
    expect_no_png "$d/speedup.png"
}

charts_the_complete_rows_of_a_killed_run() {
    local d=$root/killed
    mkdir -p "$d"
    write_result "$d/bench_INT.csv" 0 100 250 500
    printf '\n750,0.3,0.02' >>"$d/bench_INT.csv"
    pad_zeros "$d/bench_INT.csv" 700
    printf '%s' "$cpu_header" >"$d/bench_FLOAT.csv"
    pad_zeros "$d/bench_FLOAT.csv" 950
    write_stats "$d/stats_INT.csv" 100 250 500
    printf '\n750,CPU Standard,3,0.0' >>"$d/stats_INT.csv"
    pad_zeros "$d/stats_INT.csv" 300
    PLOT_KEEP_WORK=$root/killed_work run_plot "$d"
    expect_status 1
    [[ $err != *stats_INT.csv* ]] || fail_reason+="stats file reported: $err; "
    draws_whiskers "$root/killed_work" || fail_reason+="no whiskers drawn; "
    expect_err "bench_INT.csv: line 5: last row has 3 of 6 cells, left out"
    expect_err "bench_INT.csv: the file was never closed: the run was cut short (or is still running); 3 complete rows charted"
    expect_err "bench_FLOAT.csv: no rows: the run was cut short"
    expect_png "$d/bench_INT.png"
    expect_png "$d/speedup.png"
    expect_no_png "$d/bench_FLOAT.png"
}

leaves_out_an_incomplete_last_row_of_a_trimmed_file() {
    local d=$root/cut
    mkdir -p "$d"
    write_result "$d/bench_INT.csv" 1 100 250
    printf '\n500,0.3,0.02,0.1,0.2,0.3' >>"$d/bench_INT.csv"
    run_plot "$d"
    expect_status 1
    expect_err "line 4: last row has 6 of 9 cells, left out (the file was cut short)"
    expect_png "$d/bench_INT.png"
}

charts_every_key_distribution() {
    local d=$root/dists work=$root/dists_work f
    mkdir -p "$d"
    for f in FLOAT_zipf INT_nearly-sorted INT INT_sorted; do write_result "$d/bench_$f.csv" 0 100 1000; done
    PLOT_KEEP_WORK=$work run_plot "$d"
    expect_status 0
    for f in bench_INT bench_INT_sorted bench_INT_nearly-sorted bench_FLOAT_zipf \
        speedup speedup_sorted speedup_nearly-sorted speedup_zipf; do
        expect_png "$d/$f.png"
    done
    [ "$(printf '%s\n' "$out" | xargs -n1 basename | paste -sd ' ')" = \
        "bench_INT.png bench_INT_sorted.png bench_INT_nearly-sorted.png bench_FLOAT_zipf.png speedup.png speedup_sorted.png speedup_nearly-sorted.png speedup_zipf.png" ] ||
        fail_reason+="charts out of order: $out; "
    grep -qF "set title 'INT: time per sort, run dists'" "$(gp_of "$work" "$d/bench_INT.png")" ||
        fail_reason+="uniform title changed; "
    grep -q "title '[^']*nearly-sorted" "$(gp_of "$work" "$d/bench_INT_nearly-sorted.png")" ||
        fail_reason+="no distribution in the chart title; "
    grep -q "title '[^']*zipf" "$(gp_of "$work" "$d/speedup_zipf.png")" ||
        fail_reason+="no distribution in the speed-up title; "
}

gives_each_column_its_own_colour() {
    local d=$root/peers work=$root/peers_work cpu gpu
    mkdir -p "$d"
    printf '%s,Peer vqsort,Peer parallel stable sort\n100,0.1,0.2,0.3,0.4,0.5,0.6,0.7' "$cpu_header" >"$d/bench_INT.csv"
    printf '%s,Peer vqsort,Peer parallel stable sort\n100,0.1,0.2,0.3,0.4,0.5,0.6,0.7,0.8,0.9,1' "$gpu_header" >"$d/bench_FLOAT.csv"
    PLOT_KEEP_WORK=$work run_plot "$d"
    expect_status 0
    cpu=$(grep -o "ls [0-9]* title '[^']*'" "$(gp_of "$work" "$d/bench_INT.png")")
    gpu=$(grep -o "ls [0-9]* title '[^']*'" "$(gp_of "$work" "$d/bench_FLOAT.png")")
    [ "$(cut -d' ' -f2 <<<"$gpu" | sort -u | wc -l)" -eq 10 ] || fail_reason+="columns share a style: $gpu; "
    [ "$(grep Peer <<<"$cpu")" = "$(grep Peer <<<"$gpu")" ] || fail_reason+="peer styles differ with GPU columns: $cpu; "
}

compares_two_runs() {
    local a=$root/two/cpu_251201000000 b=$root/two/cpu_251202000000 work=$root/two_work t gp dashes
    write_run "$a" 0 100 1000 10000
    write_run "$b" 0 100 1000 10000
    write_result "$a/bench_INT_zipf.csv" 0 100 1000
    write_result "$b/bench_INT_zipf.csv" 0 100 1000
    PLOT_KEEP_WORK=$work run_plot "$a" "$b"
    expect_status 0
    [ -z "$err" ] || fail_reason+="stderr: $err; "
    for t in INT INT_zipf FLOAT BIGINT BIGFLOAT; do
        expect_png "$b/compare_$t.png"
        expect_png "$b/compare_ratio_$t.png"
    done
    expect_out_lines 10
    expect_no_png "$b/bench_INT.png"
    gp=$(gp_of "$work" "$b/compare_INT.png")
    dashes=$(grep -o "dt [^ ]* title 'run cpu_25120[12]000000'" "$gp" | cut -d' ' -f2 | sort -u | wc -l)
    [ "$dashes" -eq 2 ] || fail_reason+="the two runs do not have a dash type each in the key; "
    dashes=$(grep -o "using [^ ]* with linespoints ls [0-9]* dt [^ ]*" "$gp" | cut -d' ' -f8 | sort -u | wc -l)
    [ "$dashes" -eq 2 ] || fail_reason+="the lines of the two runs do not have a dash type each; "
    grep -q "title '[^']*zipf" "$(gp_of "$work" "$b/compare_ratio_INT_zipf.png")" ||
        fail_reason+="no distribution in the ratio chart title; "
}

charts_what_different_runs_share() {
    local a=$root/differ/cpu_gpu_251201000000 b=$root/differ/cpu_251202000000 out_dir=$root/differ_out
    local work=$root/differ_work gp table
    write_run "$a" 1 100 1000 10000
    write_result "$a/bench_INT_sorted.csv" 1 100 1000
    write_run "$b" 0 1000 10000 100000
    PLOT_KEEP_WORK=$work run_plot -o "$out_dir" "$a" "$b"
    expect_status 0
    [ "$err" = "plot: charting the shared counts and columns; left out: from cpu_gpu_251201000000: bench_INT_sorted.csv and counts 100 and columns GPU, GPU On Card, GPU Transfer; from cpu_251202000000: counts 100000" ] ||
        fail_reason+="stderr: $err; "
    expect_png "$out_dir/compare_INT.png"
    expect_png "$out_dir/compare_ratio_BIGFLOAT.png"
    expect_no_png "$out_dir/compare_INT_sorted.png"
    gp=$(gp_of "$work" "$out_dir/compare_INT.png")
    table=$(grep -o "'[^']*\.tsv'" "$gp" | head -n1 | tr -d "'")
    [ "$(cut -f1 "$table" | paste -sd ' ')" = "1000 10000" ] || fail_reason+="counts charted: $(cut -f1 "$table"); "
    ! grep -q GPU "$gp" || fail_reason+="GPU columns charted; "
}

rejects_malformed_rows() {
    local d=$root/malformed
    mkdir -p "$d"
    write_result "$d/bench_INT.csv" 0 100
    printf '\n250,0.03,abc,0.1,0.2,0.3\n500,0.05,0.006,0.1,0.2,0.3' >>"$d/bench_INT.csv"
    write_result "$d/bench_FLOAT.csv" 0 100
    printf '\n250,0.03,0.1,0.2,0.3\n500,0.05,0.006,0.1,0.2,0.3' >>"$d/bench_FLOAT.csv"
    write_result "$d/bench_BIGINT.csv" 0 100
    printf '\n-250,0.03,0.004,0.1,0.2,0.3' >>"$d/bench_BIGINT.csv"
    printf 'Count,Time\n100,0.01' >"$d/bench_BIGFLOAT.csv"
    run_plot "$d"
    expect_status 1
    expect_err "bench_INT.csv: line 3: CPU 1 Thread cell 'abc' is not a number"
    expect_err "bench_FLOAT.csv: line 3: 5 cells, the header has 6"
    expect_err "bench_BIGINT.csv: line 3: record count '-250' is not a positive whole number"
    expect_err "bench_BIGFLOAT.csv: line 1 is not a result file header"
    expect_no_png "$d/bench_INT.png"
    expect_no_png "$d/bench_FLOAT.png"
    expect_no_png "$d/speedup.png"
}

rejects_zero_bytes_inside_the_text() {
    local d=$root/nul
    mkdir -p "$d"
    write_result "$d/bench_INT.csv" 0 100
    printf '\0\n250,0.03,0.004,0.1,0.2,0.3' >>"$d/bench_INT.csv"
    run_plot "$d"
    expect_status 1
    expect_err "bench_INT.csv: zero bytes inside the text"
    expect_no_png "$d/bench_INT.png"
}

rejects_bad_usage() {
    run_plot -x
    expect_status 2
    expect_err "unknown option -x"
    run_plot -o
    expect_status 2
    expect_err "usage:"
}

check charts_every_file_of_a_cpu_run
check charts_every_file_of_a_gpu_run
check charts_a_single_count_run
check writes_into_the_directory_given_with_o
check quotes_paths_with_spaces_and_quotes
check charts_the_same_numbers_in_any_locale
check picks_the_last_modified_run_without_an_argument
check charting_an_older_run_keeps_it_older
check draws_whiskers_from_a_stats_file
check charts_without_whiskers_when_the_stats_file_is_malformed
check rejects_stats_that_do_not_add_up
check leaves_out_times_a_log_axis_cannot_show
check fails_on_a_missing_directory
check fails_on_a_directory_without_result_files
check reports_result_links_that_lead_nowhere
check fails_on_an_info_run_with_headers_only
check charts_the_complete_rows_of_a_killed_run
check leaves_out_an_incomplete_last_row_of_a_trimmed_file
check charts_every_key_distribution
check gives_each_column_its_own_colour
check compares_two_runs
check charts_what_different_runs_share
check rejects_malformed_rows
check rejects_zero_bytes_inside_the_text
check rejects_bad_usage

printf '%d passed, %d failed\n' "$passed" "$failed"
[ "$failed" -eq 0 ]
