#!/usr/bin/env bash
# scripts/check_layers on small trees: it must reject an upward include (in a header and in a
# source file, with the file named) and accept includes of the same and lower layers; likewise
# for the namespace a file declares.
set -uo pipefail
check="$1"
tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$tree/store" "$tree/state" "$tree/net" "$tree/service"
printf '#include "wire/day_record.h"\n#include "store/datafile.h"\n' >"$tree/store/ok.h"
printf '#include "state/server.h"\n#include <vector>\n' >"$tree/net/ok.cpp"
"$check" "$tree" || fail "includes of the same and lower layers were rejected"

printf '#pragma once\n#include "service/sessions.h"\n' >"$tree/store/bad.h"
out="$("$check" "$tree" 2>&1)" && fail "store including service passed"
[[ "$out" == *"store/bad.h:2: store includes a header of service"* ]] || fail "unexpected report: $out"
rm "$tree/store/bad.h"

printf '  #  include "service/sessions.h"\n' >"$tree/net/bad.cpp"
"$check" "$tree" >/dev/null 2>&1 && fail "net including service passed"
rm "$tree/net/bad.cpp"

# core and feed sit side by side: neither may include the other; the feed builds on service.
mkdir -p "$tree/core" "$tree/feed"
printf '#include "service/sessions.h"\n#include "store/day_range_reader.h"\n' >"$tree/feed/ok.cpp"
"$check" "$tree" || fail "feed including service and store was rejected"
printf '#include "feed/feed_server.h"\n' >"$tree/core/bad.cpp"
"$check" "$tree" >/dev/null 2>&1 && fail "core including feed passed"
rm "$tree/core/bad.cpp"
printf '#include "core/startup.h"\n' >"$tree/feed/bad.cpp"
"$check" "$tree" >/dev/null 2>&1 && fail "feed including core passed"
rm "$tree/feed/bad.cpp"

# Namespaces: the folder's own, a lower layer's and qv itself pass; a higher layer's does not.
printf 'namespace qv::wire {\n}\nnamespace qv::wire::request {\n}\n' >"$tree/store/ns_ok.h"
printf 'namespace qv {\nnamespace qv::platform {}\n' >"$tree/net/ns_ok.cpp"
printf 'namespace qv::net {\n}  // namespace qv::net\n' >"$tree/core/ns_ok.cpp"
"$check" "$tree" || fail "namespaces of the same and lower layers were rejected"
printf '#pragma once\nnamespace qv::service {\n}\n' >"$tree/state/bad_ns.h"
out="$("$check" "$tree" 2>&1)" && fail "qv::service declared under state passed"
[[ "$out" == *"state/bad_ns.h:2: state declares the namespace of service"* ]] ||
  fail "unexpected report: $out"
rm "$tree/state/bad_ns.h"
mkdir -p "$tree/wire"
printf '  namespace qv::store::request {\n' >"$tree/wire/bad_ns.h"
"$check" "$tree" >/dev/null 2>&1 && fail "qv::store declared under wire passed"
rm "$tree/wire/bad_ns.h"

mkdir -p "$tree/newfolder"
"$check" "$tree" >/dev/null 2>&1 && fail "a folder in no layer passed"
echo "check_layers: upward includes, higher namespaces and unknown folders rejected"
exit 0
