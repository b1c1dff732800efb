#!/usr/bin/env bash
# Plants the faults of faults.txt one at a time in a scratch copy of the
# tracked tree and runs the suite against each: a fault is caught when a test
# fails, crashes or runs past three times its normal time (a hang). A fault
# that names a bench figure and that the suite misses is caught when that
# figure misses its goal. The tree itself is never written. MUTANTS=id,id,...
# runs only those faults; KEEP=1 keeps the scratch folder (build and test logs
# per fault).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(git -C "$here" rev-parse --show-toplevel)
list=$here/faults.txt
jobs=${JOBS:-$(nproc)}

# fault list FILE | fault check ROOT ID... | fault apply ROOT ID
fault() {
    perl -e '
        my ($mode, $list, $root, @want) = @ARGV;
        my (@ids, %f, $cur);
        open my $fh, "<", $list or die "$list: $!\n";
        while (<$fh>) {
            chomp;
            if (/^\@ (\S+) (\S+)(?: bench=(\S+))? \| (.+)$/) {
                die "$list:$.: fault $1 twice\n" if $f{$1};
                push @ids, $1;
                $cur = $f{$1} = { file => $2, bench => $3 // "-", why => $4, "-" => [], "+" => [] };
            } elsif (/^([-+])(.*)$/s && $cur) {
                push @{ $cur->{$1} }, $2;
            } elsif (/\S/ && !/^#/) {
                die "$list:$.: not a fault line: $_\n";
            }
        }
        if ($mode eq "list") { print "$_\t$f{$_}{file}\t$f{$_}{bench}\t$f{$_}{why}\n" for @ids; exit 0 }
        for my $id (@want) {
            my $m = $f{$id} or die "no fault named $id in $list\n";
            my $find = join "\n", @{ $m->{"-"} };
            my $path = "$root/$m->{file}";
            open my $in, "<", $path or die "$id: $path: $!\n";
            my $text = do { local $/; <$in> };
            close $in;
            my ($n, $at) = (0, -1);
            for (my $p = index($text, $find); length $find && $p >= 0; $p = index($text, $find, $p + 1)) {
                ($n, $at) = ($n + 1, $at < 0 ? $p : $at);
            }
            die "$id: the snippet occurs $n times in $m->{file}, not once\n" unless $n == 1;
            next unless $mode eq "apply";
            substr($text, $at, length $find) = join "\n", @{ $m->{"+"} };
            open my $out, ">", $path or die "$id: $path: $!\n";
            print $out $text;
            close $out or die "$id: $path: $!\n";
        }' "$@" || exit 1
}

mapfile -t all < <(fault list "$list")
declare -A file_of why_of bench_of
ids=()
for row in "${all[@]}"; do
    IFS=$'\t' read -r id file bench why <<<"$row"
    file_of[$id]=$file why_of[$id]=$why bench_of[$id]=$bench
    ids+=("$id")
done
if [ -n "${MUTANTS:-}" ]; then
    IFS=, read -r -a ids <<<"$MUTANTS"
fi
# The bench figures the chosen faults name; the bench is built only for them.
figures=()
for id in "${ids[@]}"; do
    bench=${bench_of[$id]:--}
    [ "$bench" = - ] || [[ " ${figures[*]} " == *" $bench "* ]] || figures+=("$bench")
done

tree_state() { git -C "$repo" status --porcelain=v1 --untracked-files=all; }
state_before=$(tree_state)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavix-mutants.XXXXXX")
cleanup() {
    if [ "${KEEP:-}" = 1 ]; then echo "# scratch folder kept: $scratch"; else rm -rf "$scratch"; fi
}
trap cleanup EXIT
src=$scratch/src pristine=$scratch/pristine build=$scratch/build logs=$scratch/logs
mkdir -p "$src" "$logs"
git -C "$repo" ls-files -z | tar -C "$repo" --null -T - -cf - | tar -C "$src" -xf -
cp -a "$src" "$pristine"
fault check "$list" "$pristine" "${ids[@]}" # every snippet, before the long part

started=$SECONDS
echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git -C "$repo" rev-parse --short HEAD)," \
    "${#ids[@]} faults, scratch $scratch"
with_bench=OFF
[ ${#figures[@]} -eq 0 ] || with_bench=ON
cmake -S "$src" -B "$build" -DQT_MAJOR="${QT_MAJOR:-5}" -DTAVIX_BUILD_TESTS=ON -DTAVIX_BUILD_BENCH=$with_bench >"$logs/configure" 2>&1 \
    || { cat "$logs/configure"; exit 1; }
cmake --build "$build" -j "$jobs" >"$logs/build" 2>&1 || { tail -40 "$logs/build"; exit 1; }

suite() { (cd "$build" && ctest -E '^tst_package$' "$@"); }

# The faultless suite must pass; its times set each test's timeout: three
# times its own, and no less than 10 s, so that a hang counts as a catch.
suite >"$logs/pristine" 2>&1 || { cat "$logs/pristine"; echo "the suite fails without any fault"; exit 1; }
timeouts=$(perl -ne 'printf "%s %d\n", $1, ($2 * 3 > 10 ? $2 * 3 + 1 : 10) if /Test +#\d+: (\S+) .*Passed +([\d.]+) sec/' \
    "$logs/pristine")
set_timeouts() {
    perl -i -pe 'BEGIN { %t = map { split } split /\n/, shift }
        s/^(set_tests_properties\((\S+) PROPERTIES .* TIMEOUT )"\d+"/exists $t{$2} ? "$1\"$t{$2}\"" : $&/e' \
        "$timeouts" "$build/tests/CTestTestfile.cmake"
}
echo "# timeouts (s): $(tr '\n' ' ' <<<"$timeouts")"

# Whether a bench figure misses its goal: the verdict column of its rows.
bench_misses() {
    "$build/bench/tavix-bench" "$1" >"$2" 2>"$2.err"
    grep -q '| MISSED |' "$2"
}
# A figure that misses without any fault proves nothing about one.
declare -A figure_sound
for figure in "${figures[@]}"; do
    if bench_misses "$figure" "$logs/pristine.bench-$figure"; then
        echo "# bench figure $figure misses its goal without any fault: its faults count as UNSURE"
    else
        figure_sound[$figure]=1
    fi
done

# The first test that fails, as "name (how)" for anything but a plain failure.
first_failure() {
    perl -ne 'if (/Test +#\d+: (\S+) \.*\s*(?:\*\*\*)?(.*?)\s+[\d.]+ sec/ && $2 ne "Passed") {
        my ($t, $how) = ($1, $2); $how =~ s/\*+|Exception:\s*/ /g; $how =~ s/^\s+|\s+$//g;
        print $how eq "Failed" ? $t : "$t (" . lc($how) . ")"; exit }' "$1"
}

caught=0
for id in "${ids[@]}"; do
    file=${file_of[$id]:?no fault named $id}
    fault apply "$list" "$src" "$id"
    if ! cmake --build "$build" -j "$jobs" >"$logs/$id.build" 2>&1; then
        printf '%-9s %-34s %s\n' "NO BUILD" "$id" "does not compile: ${why_of[$id]}"
    else
        set_timeouts
        bench=${bench_of[$id]}
        if suite --stop-on-failure >"$logs/$id.test" 2>&1; then
            if [ "$bench" = - ] || ! bench_misses "$bench" "$logs/$id.bench"; then
                printf '%-9s %-34s %s\n' MISSED "$id" "${why_of[$id]}"
            elif [ -z "${figure_sound[$bench]:-}" ] || ! bench_misses "$bench" "$logs/$id.bench-again"; then
                printf '%-9s %-34s %s\n' UNSURE "$id" "bench $bench missed, but also without the fault or not again: ${why_of[$id]}"
            else
                printf '%-9s %-34s %s\n' caught "$id" "by bench $bench"
                caught=$((caught + 1))
            fi
        else
            by=$(first_failure "$logs/$id.test")
            # A catch counts only when the same test fails again on its own:
            # a test that fails once by chance proves nothing.
            if suite -R "^${by%% *}\$" >"$logs/$id.again" 2>&1; then
                printf '%-9s %-34s %s\n' UNSURE "$id" "$by failed once, passed again: ${why_of[$id]}"
            else
                printf '%-9s %-34s %s\n' caught "$id" "by $by"
                caught=$((caught + 1))
            fi
        fi
    fi
    cp "$pristine/$file" "$src/$file"
done

[ "$(tree_state)" = "$state_before" ] || { echo "the working tree changed during the run"; exit 1; }
echo "# wall time $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
echo "caught $caught of ${#ids[@]}"
