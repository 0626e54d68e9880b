#!/usr/bin/env bash
# Fails when a file in the given folders includes a Qt header.
status=0
for dir in "$@"; do
  if hits=$(grep -rnE '^\s*#\s*include\s*[<"](Q[A-Za-z]|qt[a-z]*/|Qt[A-Za-z]*/)' "$dir"); then
    echo "Qt header included in a Qt-free layer:"
    echo "$hits"
    status=1
  fi
done
[ $status -eq 0 ] && echo "no Qt includes in: $*"
exit $status
