#!/usr/bin/env bash
# Trelview under xvfb-run: the window appears, Escape leaves it open, button
# 1012 writes its notice, and a screenshot shows a drawn window (3 colours or
# more) with dark text in the pane.   trelview_smoke.sh TRELVIEW
set -euo pipefail
export GDK_BACKEND=x11 NO_AT_BRIDGE=1
work=$(mktemp -d)
"$1" &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT

w=$(timeout 30 xdotool search --sync --name OrvaneQM500V5.1 | head -n1)
xdotool windowfocus --sync "$w" key Escape
sleep 0.5
kill -0 "$pid" || { echo "Escape closed the window"; exit 1; }

# The client area (716 x 602) lies below the title bar, 1.5 px per unit:
# button 1012 at 387,222, 70 x 20 units; the pane at 5,24, 287 x 370.
eval "$(xdotool getwindowgeometry --shell "$w")"
bar=$((HEIGHT - 602))
xdotool mousemove --window "$w" 633 $((bar + 348)) click 1
sleep 0.5
import -window "$w" "$work/shot.png"
colours=$(convert "$work/shot.png" -format %k info:)
darkest=$(convert "$work/shot.png" -crop 420x540+12+$((bar + 40)) -colorspace gray \
            -format '%[fx:minima]' info:)  # 0 black to 1 white
echo "window $WIDTH x $HEIGHT, $colours colours, darkest pane pixel $darkest"
(( colours >= 3 )) || { echo "the window was not drawn"; exit 1; }
awk -v d="$darkest" 'BEGIN { exit !(d < 0.4) }' || { echo "no text in the pane"; exit 1; }
