# shellcheck shell=bash
# What scripts/setup.sh asks of APT: refreshing the package indices and
# installing, each done so that a mirror caught part-way through a sync does
# not stop the set-up. Source it; it runs nothing by itself.
#
# Every apt-get and apt-cache call takes the options in APT_OPTIONS (none by
# default): tests point them at a repository and a state of their own.
# APT_REFRESH_TRIES and APT_REFRESH_PAUSE (seconds) say how often a failed
# refresh is tried and how long to wait between tries; OS_RELEASE_FILE names
# the file that gives the release's codename.

if [ -z "${APT_OPTIONS+set}" ]; then APT_OPTIONS=(); fi

# The release this machine runs: bookworm on Debian 12.
release_codename() {
  # shellcheck source=/dev/null
  (. "${OS_RELEASE_FILE:-/etc/os-release}" && echo "${VERSION_CODENAME:-}")
}

# The indices that the output of `apt-get update` (on stdin) names as not
# refreshed, one a line, each once. apt says so in its closing E: and W:
# lines; the Err: lines of the progress report are the fallback.
apt_failed_indices() {
  local output named
  output=$(cat)
  named=$(sed -n \
    -e 's/^[EW]: Failed to fetch \([^ ]*\).*/\1/p' \
    -e "s/^[EW]: The repository '\\([^']*\\)'.*/\\1/p" \
    -e 's/^[EW]: Release file for \([^ ]*\) is .*/\1/p' \
    -e 's/^[EW]: GPG error: \(.*Release\): .*/\1/p' <<<"$output")
  if [ -z "$named" ]; then
    named=$(sed -n 's/^Err:[0-9]* \(.*[^ ]\) *$/\1/p' <<<"$output")
  fi
  if [ -n "$named" ]; then awk '!seen[$0]++' <<<"$named"; fi
}

# True when APT has a version of the package (name or name:arch) to install.
apt_knows() {
  local policy
  policy=$(apt-cache "${APT_OPTIONS[@]}" policy "$1" 2>/dev/null) || return 1
  [[ $policy =~ Candidate:\ [^\(] ]]
}

apt_refresh_pause() {
  sleep "${APT_REFRESH_PAUSE:-5}"
}

# Refreshes the package indices, trying again a few times when that fails.
# When some indices still cannot be refreshed, says which and goes on with
# what APT has, unless a package given here is then unknown to APT: that
# stops the set-up (returns 1) with the reason.
apt_refresh() {  # packages that must be installable afterwards...
  local tries=${APT_REFRESH_TRIES:-3} try=1 status output failed p
  local unknown=()
  while :; do
    status=0
    output=$(apt-get "${APT_OPTIONS[@]}" -q update 2>&1) || status=$?
    failed=$(apt_failed_indices <<<"$output")
    # A network failure is only a warning to apt-get, which then succeeds.
    if [ "$status" -eq 0 ] && [ -z "$failed" ]; then
      return 0
    fi
    [ "$try" -ge "$tries" ] && break
    echo "setup: refreshing the package indices failed (try $try of $tries); trying again" >&2
    apt_refresh_pause
    try=$((try + 1))
  done
  for p in "$@"; do
    apt_knows "$p" || unknown+=("$p")
  done
  if [ ${#unknown[@]} -gt 0 ]; then
    grep -E '^(E|W|Err):' <<<"$output" >&2 || true
    echo "setup: the package indices could not be refreshed, and APT has no version of: ${unknown[*]}" >&2
    echo "setup: check the network and the package sources (/etc/apt/sources.list, /etc/apt/sources.list.d), then run this again" >&2
    return 1
  fi
  if [ -n "$failed" ]; then
    echo "setup: these package indices could not be refreshed and are used as they were: $(awk 'NR > 1 { printf ", " } { printf "%s", $0 }' <<<"$failed")" >&2
  else
    grep -E '^(E|W):' <<<"$output" >&2 || true
    echo "setup: refreshing the package indices failed; going on with them as they were" >&2
  fi
}

# The package lists, refreshed once per run (and again after a source is
# added: clear apt_refreshed).
apt_refresh_once() {  # packages that must be installable afterwards...
  if [ -z "${apt_refreshed:-}" ]; then
    apt_refresh "$@" || return 1
    apt_refreshed=1
  fi
}

# apt-get install; its output is kept in apt_output.
apt_get_install() {  # apt-get arguments before the packages, --, packages...
  local args=()
  while [ "$1" != -- ]; do args+=("$1"); shift; done
  shift
  apt_output=$(apt-get "${APT_OPTIONS[@]}" install -y -q --no-install-recommends "${args[@]}" "$@" 2>&1)
}

# Installs the packages at their newest versions, or with -t those of the
# given suite (such as the release's backports). Where the newest versions
# do not fit together, as when a mirror serves an update of a library for
# one architecture and not yet for the other (a Multi-Arch: same library
# must have one version in both), installs the release's own versions
# instead.
apt_install() {  # [-t suite] packages...
  local suite='' codename
  if [ "$1" = -t ]; then suite=$2; shift 2; fi
  if apt_get_install ${suite:+-t "$suite"} -- "$@"; then
    echo "setup: installed $*${suite:+ from $suite}"
    return 0
  fi
  codename=$(release_codename)
  if [ -z "$suite" ] && [ -n "$codename" ] &&
     grep -qiE 'held broken packages|unmet dependencies' <<<"$apt_output"; then
    echo "setup: the newest versions of these packages do not fit together (a mirror part-way through a sync?); installing $codename's own versions (apt-get install -t $codename); a later apt-get upgrade brings their updates" >&2
    if apt_get_install -t "$codename" -- "$@"; then
      echo "setup: installed $* from $codename"
      return 0
    fi
  fi
  printf '%s\n' "$apt_output" >&2
  echo "setup: cannot install $*${suite:+ from $suite}" >&2
  return 1
}
