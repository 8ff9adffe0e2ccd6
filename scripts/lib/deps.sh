# Installs the Debian packages a script needs; sourced by scripts/bench and scripts/test.
#
# ensure_packages PKG...   installs what is missing from the configured suites.
# ensure_software_vulkan   makes sure Mesa's software Vulkan device (lavapipe) is
#                          new enough for the GPU sorter: Mesa 25 from bookworm-backports.

_missing_packages() {
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || printf '%s ' "$pkg"
    done
}

_apt_updated=""
_apt_update_once() {
    [ -n "$_apt_updated" ] && return 0
    apt-get update -qq >&2 || { echo "apt-get update failed" >&2; return 1; }
    _apt_updated=1
}

_apt_install() {
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >&2
}

ensure_packages() {
    local missing
    missing=$(_missing_packages "$@")
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Install them with:" >&2
        echo "  sudo apt-get install -y $missing" >&2
        return 1
    fi
    echo "Installing: $missing" >&2
    _apt_update_once && _apt_install $missing
}

# The backports entry is the machine's own main-archive entry with only the suite
# changed, so it follows whatever mirror the machine already uses.
_backports_sources=/etc/apt/sources.list.d/sortbench-backports.sources

_ensure_backports_suite() {
    grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
    local base=/etc/apt/sources.list.d/debian.sources
    if [ ! -r "$base" ]; then
        echo "Cannot add bookworm-backports: $base not found" >&2
        return 1
    fi
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /Suites:[^\n]*bookworm([ \n]|$)/ && !/security/ {
             sub(/Suites:[^\n]*/, "Suites: bookworm-backports"); print; exit }' "$base" > "$_backports_sources"
    if [ ! -s "$_backports_sources" ]; then
        rm -f "$_backports_sources"
        echo "Cannot add bookworm-backports: no bookworm entry in $base" >&2
        return 1
    fi
    _apt_updated=""
}

ensure_software_vulkan() {
    local version
    version=$(dpkg-query -W -f='${Version}' mesa-vulkan-drivers 2>/dev/null || true)
    if [ -n "$version" ] && dpkg --compare-versions "$version" ge 25; then
        return 0
    fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "The tests need Mesa 25's software Vulkan device from bookworm-backports. As root:" >&2
        echo "  add the bookworm-backports suite, then apt-get install -y -t bookworm-backports mesa-vulkan-drivers" >&2
        return 1
    fi
    echo "Installing Mesa's software Vulkan device from bookworm-backports" >&2
    _ensure_backports_suite && _apt_update_once && _apt_install -t bookworm-backports mesa-vulkan-drivers
}

# What building and running the benchmark needs.
BENCH_PACKAGES="cmake ninja-build g++ libvulkan-dev libvulkan1 glslc libhwy-dev libtbb-dev libboost-dev"
# What scripts/plot and scripts/report need.
PLOT_PACKAGES="python3-matplotlib python3-scipy"
# What the tests and benchmarks need on top: the scripts' packages (scipy also
# serves Google Benchmark's compare.py), pytest for the scripts' tests, flake8
# and clang-format that hold the Python and the C++ and GLSL to one format each,
# and a browser that opens a report.
TEST_PACKAGES="libgtest-dev libbenchmark-dev libbenchmark-tools vulkan-validationlayers locales $PLOT_PACKAGES python3-pytest python3-flake8 clang-format chromium"
