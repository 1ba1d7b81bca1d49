# Screenshots of the virtual display for scripts/demo, and checks of the stand-in host's task bar
# in them. The stand-in logs where its bar and each button are:
#   hh:mm:ss.mmm  bar        rect L,T,R,B  face #rrggbb  buttons N
#   hh:mm:ss.mmm  button     window 0x........  rect L,T,R,B  icon L,T,R,B  badge L,T,R,B  "label"
#   hh:mm:ss.mmm  button     window 0x........  redrawn with icon 0x........ from ..., icon changes N
# so that a check knows where to look. Needs ImageMagick (import, convert, compare; scripts/setup).
# Source it; it defines functions only.

# The bar's last logged layout: its "bar" line, then one "button" line per button shown.
shot_layout() {  # host log
  awk '{ sub(/\r$/, "") }  # Wine writes standard output with CR LF
       $2 == "bar" && $3 == "rect" { layout = $0 "\n"; next }
       $2 == "button" && $5 == "rect" { layout = layout $0 "\n" }
       END { printf "%s", layout }' "$1"
}

# True when the bar's last layout has a button for every given window.
shot_layout_has() {  # host log, window...
  local layout w
  layout=$(shot_layout "$1")
  shift
  for w in "$@"; do grep -q "  button     window $w  rect " <<<"$layout" || return 1; done
}

# What the host last drew on the window's button after a notice, "ICON CHANGES" ("" before any).
shot_drawn_icon() {  # host log, window
  awk -v w="$2" '{ sub(/\r$/, "") }
                 $2 == "button" && $4 == w && $5 == "redrawn" { drawn = $8 " " $NF }
                 END { print drawn }' "$1"
}

# Grabs the whole display to a PNG, with the bar's layout of that moment beside it (FILE.layout).
shot_take() {  # host log, png
  import -display "$DISPLAY" -window root "$2" 2>/dev/null || return 1
  shot_layout "$1" >"$2.layout"
}

# "L,T,R,B" -> ImageMagick geometry "WxH+L+T"
shot_geometry() {
  local l t r b
  IFS=, read -r l t r b <<<"$1"
  printf '%dx%d+%d+%d' $((r - l)) $((b - t)) "$l" "$t"
}
shot_crop() {  # png, L,T,R,B, out png
  convert "$1" -crop "$(shot_geometry "$2")" +repage "$3"
}
shot_colours() {  # png, L,T,R,B -> number of distinct colours in that box
  convert "$1" -crop "$(shot_geometry "$2")" +repage -format %k info:
}
shot_main_colour() {  # png, L,T,R,B -> the box's most frequent colour, as #RRGGBB
  convert "$1" -crop "$(shot_geometry "$2")" +repage -format %c histogram:info:- |
    sort -rn | head -n 1 | grep -Eo '#[0-9A-Fa-f]{6}' | head -n 1
}
shot_field() {  # layout line, name ("rect", "icon", "face") -> the word after it
  awk -v n="$2" '{ for (i = 1; i < NF; i++) if ($i == n) { print $(i + 1); exit } }' <<<"$1"
}
shot_button_line() {  # png, window
  grep -m 1 "  button     window $2  rect " "$1.layout"
}

# Checks one picture: the bar is there (its box is mostly the colour of a button face), and
# each window has a button with the expected label, showing an icon and a label (neither box of
# one colour). Prints one line per finding; false when any fails.
shot_check() {  # png, "window=label"...
  local png=$1 bar face main ok=0 entry w label line rect icon
  shift
  bar=$(grep -m 1 '  bar        rect ' "$png.layout")
  if [ -z "$bar" ]; then
    echo "   no bar layout was logged before $png"
    return 1
  fi
  face=$(shot_field "$bar" face)
  main=$(shot_main_colour "$png" "$(shot_field "$bar" rect)")
  if [ "${main,,}" != "${face,,}" ]; then
    echo "   bar: its box is mostly $main, not the button face $face"
    ok=1
  fi
  for entry in "$@"; do
    w=${entry%%=*}
    label=${entry#*=}
    line=$(shot_button_line "$png" "$w")
    if [ -z "$line" ]; then
      echo "   window $w ($label): no button on the bar"
      ok=1
      continue
    fi
    if [[ "$line" != *"\"$label\""* ]]; then
      echo "   window $w: button labelled ${line##*  }, not \"$label\""
      ok=1
    fi
    rect=$(shot_field "$line" rect)
    icon=$(shot_field "$line" icon)
    if [ "$(shot_colours "$png" "$rect")" -lt 3 ]; then
      echo "   window $w: its button's box $rect is nearly one colour"
      ok=1
    fi
    if [ "$(shot_colours "$png" "$icon")" -lt 2 ]; then
      echo "   window $w: its button's icon box $icon is one colour (no icon drawn)"
      ok=1
    fi
  done
  return "$ok"
}

# True when the window's button differs between two pictures (each at its own place).
shot_button_changed() {  # png1, png2, window
  local a b n
  a=$(shot_field "$(shot_button_line "$1" "$3")" rect)
  b=$(shot_field "$(shot_button_line "$2" "$3")" rect)
  [ -n "$a" ] && [ -n "$b" ] || return 1
  shot_crop "$1" "$a" "$1.button.png" && shot_crop "$2" "$b" "$2.button.png" || return 1
  n=$(compare -metric AE "$1.button.png" "$2.button.png" null: 2>&1)
  rm -f "$1.button.png" "$2.button.png"
  [ "${n%%[^0-9]*}" -gt 0 ] 2>/dev/null
}
