#!/usr/bin/env bash
# Japanese texts take full-width punctuation: no ASCII colon after Japanese
# words (「：」 or a line break instead), and no em dash set between a
# name and a sentence. Checks every string literal of the files that hold
# the texts a user reads, the program's and the library's.
#
#   texts_punctuation.sh SOURCE_DIR
set -u
src=$1
files=(ui/resources/texts.h ui/resources/texts_destination.h ui/resources/texts_extraction.h
       unlha32/messages.h unlha32/progress_texts.h)
fails=0
for f in "${files[@]}"; do
  [ -f "$src/$f" ] || { echo "FAIL: $f is missing"; fails=$((fails + 1)); continue; }
  # Japanese letters, kana or full-width brackets, then ':'; or a dash.
  bad=$(grep -noP '"[^"]*"' "$src/$f" | grep -P '[\p{Han}\p{Hiragana}\p{Katakana}（）] ?:|\x{2014}')
  if [ -n "$bad" ]; then
    echo "FAIL: $f has Western punctuation in Japanese text:"
    echo "$bad"
    fails=$((fails + 1))
  fi
done
((fails == 0)) || exit 1
echo "PASS: ${#files[@]} files"
