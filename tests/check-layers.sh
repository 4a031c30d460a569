#!/usr/bin/env bash
# The platform layer's groups stand on each other bottom up, in the order given (the one in
# CMakeLists.txt): a unit includes headers of its own group and of the groups below it, named by
# their group, and nothing of the natives, the chooser or JNI. platform/ holds only the group
# folders and its README.
set -euo pipefail
root=$1; shift
declare -A rank; i=0
for g in "$@"; do rank[$g]=$((i++)); done
bad=0
for f in "$root"/platform/*; do
  name=${f##*/}
  [[ $name == README.md || -n ${rank[$name]:-} ]] || { echo "loose in platform/: $name"; bad=1; }
done
while IFS=: read -r file line include; do
  group=${file#"$root"/platform/}; group=${group%%/*}
  target=$(sed -n 's/^#include "\(.*\)"$/\1/p' <<<"$include")
  if [[ $include =~ \<jni\.h\> ]]; then
    echo "$file:$line: JNI in the platform layer"; bad=1; continue
  fi
  [[ -n $target ]] || continue
  to=$(sed -n 's|^platform/\([a-z_]*\)/[a-z_]*\.h$|\1|p' <<<"$target")
  if [[ -z $to || -z ${rank[$to]:-} || ! -f $root/$target ]]; then
    echo "$file:$line: includes $target, not a platform header named by its group"; bad=1
  elif ((rank[$to] > rank[$group])); then
    echo "$file:$line: $group includes $target from the higher group $to"; bad=1
  fi
done < <(grep -rn '^#include' "$root"/platform --include='*.h' --include='*.cpp')
((bad == 0)) && echo "every include in platform/ runs downward: $*"
exit $bad
