#!/usr/bin/env bash
# Fails when code under src/ outside a platform file (*_posix.* or *_windows.*) includes a header only
# POSIX systems or only Windows have, or asks which platform it is built for (#if/#ifdef on _WIN32,
# __linux__, __APPLE__, ...): a port then adds platform files and touches nothing else. Lists those files.
# Files still to be moved are named in scripts/platform-allow.txt (one path a line, # comments): they are
# listed but do not fail the check; an entry whose file is clean or gone fails it, so the list shrinks.
set -euo pipefail
cd "$(dirname "$0")/.."
allow_file=scripts/platform-allow.txt

# <sys/...>, <netinet/...> and the like by their folder; the rest by name.
posix='unistd|fcntl|pthread|poll|dlfcn|syslog|netdb|spawn|dirent|pwd|grp|termios|sched|semaphore|strings|langinfo'
posix+='|malloc|glob|fnmatch|libgen|ifaddrs|execinfo|link|err|sys/[a-z_/]+|netinet/[a-z_/]+|arpa/[a-z_/]+|net/[a-z_/]+'
windows='windows|winsock2?|ws2tcpip|ws2def|mswsock|iphlpapi|winbase|windef|winnt|winerror|winreg|wincrypt|bcrypt'
windows+='|io|direct|process|share|conio|tchar|crtdbg|dbghelp|psapi|shlobj|shellapi|userenv|ntsecapi|lmcons'
header="^[[:space:]]*#[[:space:]]*include[[:space:]]*<(${posix}|${windows})\.h>"
macro='^[[:space:]]*#[[:space:]]*(if|ifdef|ifndef|elif|elifdef|elifndef)\b.*\b(_WIN32|_WIN64|__linux__|__linux|'
macro+='__unix__|__unix|__APPLE__|__MACH__|__CYGWIN__|__MINGW32__|__MINGW64__|__FreeBSD__)\b'

declare -A allowed=()
if [ -f "$allow_file" ]; then
  while read -r path _; do
    [ -n "$path" ] && [ "${path:0:1}" != "#" ] && allowed[$path]=1
  done <"$allow_file"
fi

failed=0
offenders=() waiting=()
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- 'src/*.c' 'src/*.cc' 'src/*.cpp' \
                       'src/*.h' 'src/*.hh' 'src/*.hpp' 'src/*.in' | sort -u)
for file in "${files[@]}"; do
  [ -f "$file" ] || continue
  case "$(basename "$file")" in *_posix.* | *_windows.*) continue ;; esac
  found=$(grep -nE -e "$header" -e "$macro" "$file" || true)
  [ -z "$found" ] && continue
  if [ -n "${allowed[$file]:-}" ]; then
    waiting+=("$file")
    unset "allowed[$file]"
  else
    offenders+=("$file")
    printf '%s\n' "$found" | sed "s|^|  $file:|" >&2
  fi
done

if [ "${#offenders[@]}" -gt 0 ]; then
  echo "check-platform: ${#offenders[@]} file(s) under src/ hold platform code outside a *_posix/*_windows file:" >&2
  printf '  %s\n' "${offenders[@]}" >&2
  failed=1
fi
if [ "${#allowed[@]}" -gt 0 ]; then
  echo "check-platform: $allow_file names file(s) that hold no platform code (or are gone); remove them:" >&2
  printf '  %s\n' "${!allowed[@]}" >&2
  failed=1
fi
[ "$failed" -eq 0 ] || exit 1
echo "check-platform: ${#files[@]} files under src/, platform code only in platform files" \
     "(${#waiting[@]} still to move: ${waiting[*]:-none})"
