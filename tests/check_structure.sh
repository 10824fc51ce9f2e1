#!/usr/bin/env bash
# Checks what the build cannot see by itself:
#  - includes point inward only: the core (convert/, storage/, automation/) includes nothing from
#    ui/, app/ or platform/; ui/ nothing from app/ or platform/; app/ nothing from platform/; no
#    front end under platform/ (headless/, qt/, win32/) includes another or the Linux executable
#    (platform/linux/), which includes only the headless front end it is built around;
#  - the executable links no GUI toolkit and exports no C++ runtime symbol; where it replaces the
#    C library's allocator, it replaces every function of it (any left out would be handed blocks
#    it never made); where it carries its own C++ runtime, that carries no demangler; the code
#    that a drop-folder run executes comes first;
#  - the desktop front end module, when given, resolves nothing in the executable and exports
#    nothing of its own beside its entry points.
# Usage: check_structure.sh SOURCE_DIR QUORVANE [MODULE]
set -uo pipefail
source_dir=$1
executable=$2
module=${3:-}
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The folders a file in `folder` must not include from.
forbidden_for() {
  case $1 in
    convert | storage | automation) echo "ui app platform" ;;
    ui) echo "app platform" ;;
    app) echo "platform" ;;
    platform/*) for other in "$source_dir"/platform/*/; do
        other=platform/$(basename "$other")
        [ "$other" = "$1" ] && continue
        [ "$1" = platform/linux ] && [ "$other" = platform/headless ] && continue
        echo "$other"
      done ;;
  esac
}

edges=0
for folder in convert storage automation ui app platform/*; do
  [ -d "$source_dir/$folder" ] || continue
  folder=${folder#"$source_dir"/}
  read -r -a forbidden <<<"$(forbidden_for "$folder" | tr '\n' ' ')"
  while IFS= read -r line; do
    file=${line%%:*}
    included=$(sed -n 's/.*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' <<<"${line#*:}")
    edges=$((edges + 1))
    for outer in "${forbidden[@]}"; do
      case $included in "$outer"/*) fail "${file#"$source_dir"/} includes $included" ;; esac
    done
  done < <(grep -H -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' \
    "$source_dir/$folder"/*.cc "$source_dir/$folder"/*.h 2>/dev/null)
done
[ "$edges" -gt 0 ] || fail "no include was found under $source_dir: wrong source folder?"

needed=$(readelf -d "$executable" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
[ -n "$needed" ] || fail "readelf found no library that $executable links"
case $needed in *Qt* | *qt* | *Gtk* | *gtk*) fail "$executable links a toolkit: $needed" ;; esac

exported=$(nm -D --defined-only "$executable" | c++filt | grep -c 'std::')
[ "$exported" -eq 0 ] || fail "$executable exports $exported C++ runtime symbols"

defined=$(nm -D --defined-only "$executable" | awk '{print $3}')
if grep -qx malloc <<<"$defined"; then
  for function in free calloc realloc reallocarray memalign aligned_alloc posix_memalign valloc \
    pvalloc malloc_usable_size; do
    grep -qx "$function" <<<"$defined" || fail "$executable replaces malloc but not $function"
  done
fi

# A copy of the runtime of its own carries the handler for an escaped exception of its own, and
# with it no demangler, which every start would map and relocate.
case $needed in *libstdc++*) ;; *)
  demanglers=$(nm "$executable" 2>/dev/null | grep -c ' [Tt] __cxa_demangle$')
  [ "$demanglers" -eq 0 ] || fail "$executable carries the C++ runtime's demangler" ;;
esac

# The functions a drop-folder run executes lie side by side at the start of the code (the LLVM
# linker orders them from startup_order.txt, which bench/startup_order.sh writes).
order=$source_dir/platform/linux/startup_order.txt
if [ -f "$order" ]; then
  listed=$(grep -v -e '^#' -e '^$' "$order")
  code=$(nm -n --defined-only "$executable" | awk '$2 == "T" || $2 == "t" {print $3}')
  found=$(grep -cxF -f <(printf '%s\n' "$listed") <<<"$code")
  total=$(wc -l <<<"$listed")
  [ $((found * 4)) -ge $((total * 3)) ] ||
    fail "only $found of the $total functions of startup_order.txt are in $executable" \
      "(bench/startup_order.sh writes the list again)"
  grep -qxF -- "$(head -n 1 <<<"$code")" <<<"$listed" ||
    fail "$executable's code does not start with the functions of startup_order.txt" \
      "(linked without lld? scripts/install-deps.sh installs it)"
fi

if [ -n "$module" ]; then
  resolved=$(nm -D --undefined-only "$module" | c++filt | grep -c 'quorvane::')
  [ "$resolved" -eq 0 ] || fail "$module resolves $resolved symbols in the executable"
  # Its own classes stay inside: each exported one is a name looked up when it is loaded.
  own=$(nm -D --defined-only "$module" | c++filt | grep -c 'quorvane::')
  [ "$own" -eq 0 ] || fail "$module exports $own of its own symbols beside its entry points"
fi

echo "check_structure: $edges includes looked at, $failures failures"
[ "$failures" -eq 0 ]
