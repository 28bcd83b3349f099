#!/usr/bin/env bash
# The operator tool end to end: round trip, check on good and broken files,
# refused keys and usage, and no partial output on failure.
#   zetora_config_test.sh <zetora-config> <plain configuration>
set -u
tool=$1
plain=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
expect() {  # expect STATUS DESCRIPTION COMMAND...
  local want=$1 what=$2
  shift 2
  "$@" >"$dir/out" 2>&1
  local got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL: $what: exit $got, expected $want"; sed 's/^/  | /' "$dir/out"; failures=$((failures + 1))
  fi
}

expect 0 "encrypt" "$tool" encrypt "$plain" "$dir/enc"
[ $(( $(stat -c %s "$dir/enc") % 16 )) = 0 ] || { echo "FAIL: not whole blocks"; failures=$((failures + 1)); }
if grep -q "downloadlist" "$dir/enc"; then echo "FAIL: readable text left"; failures=$((failures + 1)); fi
expect 0 "decrypt" "$tool" decrypt "$dir/enc" "$dir/dec"
# The round trip gives the document back, followed by the padding newlines.
if ! cmp -s <(sed -e :a -e '/^\n*$/{$d;N;ba' -e '}' "$dir/dec") <(sed -e :a -e '/^\n*$/{$d;N;ba' -e '}' "$plain"); then
  echo "FAIL: round trip differs"; failures=$((failures + 1))
fi
expect 0 "check of the encrypted file" "$tool" check "$dir/enc"
grep -q "pcfg: cdb/dp/nopicpack/g_n/g_d/g_v/g_t/g_u/g_a/g_i/g_c" "$dir/out" || { echo "FAIL: check codes"; cat "$dir/out"; failures=$((failures + 1)); }
grep -q "version:    2.0.0.1" "$dir/out" || { echo "FAIL: check fields"; failures=$((failures + 1)); }

expect 1 "check of the plain file" "$tool" check "$plain"
grep -q "end reason 2" "$dir/out" || { echo "FAIL: check message"; failures=$((failures + 1)); }
expect 1 "check with another key" "$tool" --key-text 00000000-0000-0000-0000-000000000000 check "$dir/enc"
expect 1 "check of a missing file" "$tool" check "$dir/missing"
expect 0 "another key both ways" "$tool" --key-hex 000102030405060708090a0b0c0d0e0f encrypt "$plain" "$dir/enc16"
expect 0 "check with that key" "$tool" --key-hex 000102030405060708090a0b0c0d0e0f check "$dir/enc16"
expect 0 "key option after the command" "$tool" check --key-hex 000102030405060708090a0b0c0d0e0f "$dir/enc16"
expect 1 "the key after the command counts" "$tool" check "$dir/enc16" --key-text 00000000-0000-0000-0000-000000000000

expect 2 "key of 17 bytes" "$tool" --key-hex 000102030405060708090a0b0c0d0e0f10 check "$dir/enc"
expect 2 "key of 60 bytes" "$tool" --key-hex "$(printf '00%.0s' $(seq 60))" check "$dir/enc"
expect 2 "key text of 35 characters" "$tool" --key-text 00000000-0000-0000-0000-00000000000 check "$dir/enc"
expect 2 "no command" "$tool"
expect 2 "unknown command" "$tool" sign "$plain"

expect 1 "encrypt of a missing input" "$tool" encrypt "$dir/missing" "$dir/never"
expect 1 "encrypt into a missing folder" "$tool" encrypt "$plain" "$dir/no/such/dir"
if ls "$dir" | grep -q "never\|partial"; then echo "FAIL: partial output left"; failures=$((failures + 1)); fi

[ "$failures" = 0 ] && echo "zetora-config: all checks passed"
exit $(( failures > 0 ))
