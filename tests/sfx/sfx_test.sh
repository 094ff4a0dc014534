#!/bin/sh
# The self-extractors as a recipient runs them: `halvex copy --stub KIND`
# makes report.doc.exe, which restores the file (Linux natively, Windows under
# Wine without a window); damage and a wrong password leave nothing behind.
#   sfx_test.sh HALVEX KIND [WINE_RUN WINE_STATE]
set -eu
halvex=$1 kind=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export HALVEX_CONFIG="$work/settings.ini" HALVEX_KEYSTORE="$work/key"
printf 'right horse\n' >pw
printf 'wrong horse\n' >bad
head -c 300000 /dev/urandom >report.doc
touch -d '2021-03-04 05:06:07' report.doc
"$halvex" copy --stub "$kind" --password-file pw report.doc >/dev/null
chmod +x report.doc.exe  # as a recipient does with a file from elsewhere
wine_run=${3:-} wine_state=${4:-}
run() {  # PROGRAM ARGS...
  exe=$1; shift
  if [ "$kind" = linux ]; then "./$exe" "$@"; else "$wine_run" "$wine_state" "./$exe" "$@"; fi
}
fail() { echo "FAIL ($kind): $*" >&2; exit 1; }

mkdir good
run report.doc.exe --password-file pw --to good || fail "restoring failed"
cmp good/report.doc report.doc || fail "restored bytes differ"
[ "$(stat -c %Y good/report.doc)" = "$(stat -c %Y report.doc)" ] || fail "modification time not restored"

size=$(stat -c %s report.doc.exe)
cp report.doc.exe flipped.exe
at=$((size - 150000))  # one bit in the middle of the encrypted body
byte=$(od -An -tu1 -j $at -N1 report.doc.exe)
printf "$(printf '\\%03o' $((byte ^ 1)))" | dd of=flipped.exe bs=1 seek=$at conv=notrunc 2>/dev/null
head -c $((size - 1000)) report.doc.exe >truncated.exe
chmod +x flipped.exe truncated.exe
for case in "report.doc.exe bad" "flipped.exe pw" "truncated.exe pw"; do
  set -- $case
  rm -rf out && mkdir out
  if run "$1" --password-file "$2" --to out 2>err; then fail "$1 with $2 succeeded"; fi
  [ -z "$(ls -A out)" ] || fail "$1 with $2 left $(ls -A out)"
  [ "$(wc -l <err)" -ge 1 ] || fail "$1 with $2 said nothing"
done

if [ "$kind" = linux ]; then
  echo other >good/report.doc
  if ./report.doc.exe --password-file pw --to good 2>err; then fail "replaced an existing file"; fi
  [ "$(cat good/report.doc)" = other ] || fail "the existing file changed"
  cp report.doc.exe invoice.pdf.exe && mkdir renamed
  ./invoice.pdf.exe --password-file pw --to renamed | grep -q "^Restored .*/renamed/report.doc$" ||
    fail "a renamed file did not name what it restored"
fi
echo "ok: the $kind self-extractor ($(stat -c %s report.doc.exe) bytes with a 300000-byte file)"
