#!/bin/sh
# Adds (or with --remove takes away) the "Extract!" context-menu entries that a file
# manager only reads from the user's own folders:
#   Nautilus: a link to our script in $XDG_DATA_HOME/nautilus/scripts/
#   Thunar:   our custom action in $XDG_CONFIG_HOME/Thunar/uca.xml
# Dolphin needs nothing: it reads the installed service menu directly.
# Running it twice changes nothing; Thunar picks up the action after `thunar -q`.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
data_home=${XDG_DATA_HOME:-$HOME/.local/share}
config_home=${XDG_CONFIG_HOME:-$HOME/.config}
script="$here/nautilus/Extract!"
link="$data_home/nautilus/scripts/Extract!"
snippet="$here/thunar/quillmoss-extract.xml"
uca="$config_home/Thunar/uca.xml"
action_id='<unique-id>quillmoss-extract</unique-id>'

# Prints uca.xml without our action; the file's other actions stay as they were.
without_action() {
  awk -v id="$action_id" '
    /<action>/ { inside = 1; block = ""; ours = 0 }
    inside {
      block = block $0 "\n"
      if (index($0, id)) ours = 1
      if (/<\/action>/) { inside = 0; if (!ours) printf "%s", block }
      next
    }
    { print }
    END { if (inside && !ours) printf "%s", block }
  ' "$1"
}

# Prints uca.xml with the action inserted before its closing </actions>.
with_action() {
  awk -v snippet="$2" '
    { lines[NR] = $0; if (index($0, "</actions>")) last = NR }
    END {
      if (!last) exit 1
      for (i = 1; i <= NR; i++) {
        if (i == last) {
          pos = 0; rest = lines[i]
          while ((p = index(rest, "</actions>")) > 0) { pos += p; rest = substr(rest, p + 1) }
          head = substr(lines[i], 1, pos - 1)
          if (head ~ /[^ \t]/) print head
          while ((getline line < snippet) > 0) print line
          print substr(lines[i], pos)
        } else {
          print lines[i]
        }
      }
    }
  ' "$1"
}

replace_file() {
  # Written beside the target first, so an interrupted run never leaves half a file.
  cat >"$1.quillmoss-new" && mv "$1.quillmoss-new" "$1"
}

add_entries() {
  [ -f "$script" ] || { echo "missing: $script" >&2; exit 1; }
  mkdir -p "$(dirname "$link")"
  ln -sfn "$script" "$link"

  mkdir -p "$(dirname "$uca")"
  if [ ! -f "$uca" ]; then
    # Thunar reads only the user's file once it exists: start from its own defaults.
    if [ -f /etc/xdg/Thunar/uca.xml ]; then
      cp /etc/xdg/Thunar/uca.xml "$uca"
    else
      printf '<?xml version="1.0" encoding="UTF-8"?>\n<actions>\n</actions>\n' >"$uca"
    fi
  fi
  if ! grep -q "$action_id" "$uca"; then
    if ! with_action "$uca" "$snippet" | replace_file "$uca"; then
      rm -f "$uca.quillmoss-new"
      echo "not changed: $uca has no </actions>" >&2
      exit 1
    fi
  fi
  echo "Nautilus: $link"
  echo "Thunar:   $uca (restart Thunar with: thunar -q)"
}

remove_entries() {
  if [ -L "$link" ] && [ "$(readlink "$link")" = "$script" ]; then
    rm -f "$link"
  fi
  if [ -f "$uca" ] && grep -q "$action_id" "$uca"; then
    without_action "$uca" | replace_file "$uca"
  fi
}

case "${1:-}" in
  "") add_entries ;;
  --remove) remove_entries ;;
  *) echo "usage: $0 [--remove]" >&2; exit 2 ;;
esac
