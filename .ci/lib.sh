# Steps that several CI jobs share; sourced by .ci/run and the job scripts,
# never run on its own.

# The folder kept between runs for NAME, outside the clone.
ciCache() { echo "${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/gcwindow-$1"; }

# Every job's objects go through ccache, kept between runs, so that a warm
# run compiles only what changed. CMake takes the launcher from the
# environment when it first configures a build folder.
export CCACHE_DIR=${CCACHE_DIR:-$(ciCache ccache)} CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-2G}
command -v ccache >/dev/null && export CMAKE_CXX_COMPILER_LAUNCHER=ccache

# Tests run four at a time: most of them wait on pipes, timers and child
# processes more than they compute.
ciTests=4

# GoogleTest for the cross builds comes from Debian's multiarch packages, as a
# distribution's own cross build would take it: ARCHITECTURE:TRIPLET.
crossTargets=(arm64:aarch64-linux-gnu s390x:s390x-linux-gnu i386:i686-linux-gnu)

# Installs what the jobs need and the machine lacks, in one apt-get run.
installCiPackages() {
  local packages=(cmake g++ make ccache libgtest-dev clang clang-14 libclang-rt-14-dev clang-format clang-tidy
    groff-base strace dpkg-dev file qemu-user lintian devscripts llvm mmdebstrap)
  # npm brings zig for the macOS cross builds; some images ship it with Node.js.
  command -v npm >/dev/null || packages+=(npm)
  local target architecture triplet
  for target in "${crossTargets[@]}"; do
    architecture=${target%%:*} triplet=${target#*:}
    dpkg --print-foreign-architectures | grep -qx "$architecture" || dpkg --add-architecture "$architecture"
    # libstdc++6 runs the cross-built tests under the emulator.
    packages+=("g++-$triplet" "libgtest-dev:$architecture" "libstdc++6:$architecture")
  done
  local missing=() package try
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  # A mirror in the middle of a sync serves lists that fail to verify for a
  # minute or two; that is no fault of the change under test.
  for try in 1 2 3; do
    apt-get update -qq && break
    ((try == 3)) || sleep 60
  done
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  command -v ccache >/dev/null && export CMAKE_CXX_COMPILER_LAUNCHER=ccache
  return 0
}

# The README's lines that CI runs verbatim. readmeSetUp: the first ```sh
# block, which holds the two set-up lines. readmeInstall: every ```sh block
# from the "## Install" heading to the next "## " heading, in order.
readme=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/README.md
readmeSetUp() { awk '/^```sh$/ {inside = 1; next} inside && /^```$/ {exit} inside' "$readme"; }
readmeInstall() {
  awk '/^## Install/ {on = 1; next} on && /^## / {exit} on && /^```sh$/ {inside = 1; next}
    inside && /^```$/ {inside = 0} inside' "$readme"
}
# The build-and-test part of a set-up line: from its first "cmake -S" on.
buildPart() { echo "cmake -S${1#*&& cmake -S}"; }

# A root file system to chroot into, unpacked from TARBALL into a new folder
# under /tmp, with the host's proc, sysfs and /dev, and optionally a host
# folder of .deb files as its apt cache; all unmounted and removed on exit.
#   chrootUp TARBALL [APT_CACHE]; then $chrootRoot is the root.
chrootRoot="" chrootMounts=()
chrootDown() {
  local i
  for ((i = ${#chrootMounts[@]} - 1; i >= 0; i--)); do
    umount "${chrootMounts[i]}" 2>/dev/null || umount -l "${chrootMounts[i]}"
  done
  chrootMounts=()
  [[ -z $chrootRoot ]] || rm -rf --one-file-system "$chrootRoot"
}
chrootUp() {
  chrootRoot=$(mktemp -d /tmp/gcwindow-root-XXXXXX)
  trap chrootDown EXIT
  tar -xf "$1" -C "$chrootRoot"
  cp /etc/resolv.conf "$chrootRoot/etc/resolv.conf"
  mount -t proc proc "$chrootRoot/proc" && chrootMounts+=("$chrootRoot/proc")
  mount -t sysfs sysfs "$chrootRoot/sys" && chrootMounts+=("$chrootRoot/sys")
  mount --bind /dev "$chrootRoot/dev" && chrootMounts+=("$chrootRoot/dev")
  if [[ -n ${2:-} ]]; then
    mkdir -p "$2/partial" "$chrootRoot/var/cache/apt/archives"
    mount --bind "$2" "$chrootRoot/var/cache/apt/archives" && chrootMounts+=("$chrootRoot/var/cache/apt/archives")
  fi
}
# Runs a shell command in the root as a new user would: root's login
# environment and nothing of CI's.
inChroot() {
  chroot "$chrootRoot" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    "${@:1:$#-1}" /bin/sh -c "${!#}"
}
