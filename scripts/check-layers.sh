#!/usr/bin/env bash
# Fails when an #include in src/ points the wrong way between layers. Layers, lowest first:
#   platform (the ports) <- core <- engine <- gestures <- overlay <- windows <- app
# A layer may include its own headers and those of the layers below it. The adapters
# (platform/linux, platform/sentry) implement ports: they may include the ports and each other's
# own folder, and only app/ may include them.
set -euo pipefail
src="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/src}"

rank() {  # folder of a file or an include, relative to src/
  case "$1" in
    platform/linux*|platform/sentry*) echo adapter ;;
    platform*) echo 0 ;; core*) echo 1 ;; engine*) echo 2 ;; gestures*) echo 3 ;;
    overlay*) echo 4 ;; windows*) echo 5 ;; app*) echo 6 ;; *) echo none ;;
  esac
}

status=0
while IFS= read -r -d '' file; do
  rel="${file#"$src"/}"
  from="$(rank "$rel")"
  [ "$from" = none ] && continue
  while IFS=: read -r line target; do
    to="$(rank "$target")"
    [ "$to" = none ] && continue
    ok=1
    if [ "$to" = adapter ]; then
      # Adapters are seen by app/ and by the other files of their own folder.
      [ "$from" = 6 ] || [ "$(cut -d/ -f1-2 <<<"$target")" = "$(cut -d/ -f1-2 <<<"$rel")" ] || ok=0
    elif [ "$from" = adapter ]; then
      [ "$to" = 0 ] || ok=0
    else
      [ "$to" -le "$from" ] || ok=0
    fi
    if [ $ok = 0 ]; then
      echo "$rel:$line: includes \"$target\" against the layer order"
      status=1
    fi
  done < <(grep -nE '^\s*#\s*include\s+"[^"]+"' "$file" | sed -E 's/^([0-9]+):\s*#\s*include\s+"([^"]+)".*/\1:\2/')
  # The network is reached through the HTTP port; only adapters and app/ use Qt Network itself.
  if [ "$from" != adapter ] && [ "$from" != 6 ]; then
    while IFS=: read -r line _; do
      echo "$rel:$line: uses Qt Network directly instead of the HTTP port"
      status=1
    done < <(grep -nE '^\s*#\s*include\s+<QNetwork' "$file" || true)
  fi
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) -print0)
[ $status = 0 ] && echo "layers: every include points down"
exit $status
