# Shared set-up for run.sh and test.sh: install what is missing, then configure and build.
# Sourced, not executed.

# What building and running need (./run.sh): compilers, the libraries the engine links, the
# archiver it calls, and python3 for the samples generator.
KIV_PACKAGES=(build-essential cmake pkg-config libmagic-dev libmagic-mgc libqpdf-dev rapidjson-dev
              libpcre2-dev zlib1g-dev p7zip-full python3)
# What only the tests need (./test.sh installs both lists): GoogleTest, Google Benchmark for
# the benchmark programs, and the tools the tests use to make real files of each format.
KIV_TEST_PACKAGES=(libgtest-dev libbenchmark-dev zip unzip xz-utils bzip2 qpdf gcab genisoimage)
# Tar archives as a second writer makes them (bsdtar).
KIV_TEST_PACKAGES+=(libarchive-tools)
# Media probes: images and PSD/PSB (imagemagick), EXIF thumbnails (exiftool), WAV (sox),
# MP3 (lame), text and binary DXF (python3-ezdxf).
KIV_TEST_PACKAGES+=(imagemagick libimage-exiftool-perl sox lame python3-ezdxf)
# Fuzzing (./fuzz.sh and the smoke run in test.sh): clang with its libFuzzer and sanitizer runtimes.
KIV_TEST_PACKAGES+=(clang libclang-rt-14-dev)
# Benchmark (bench/): the file command beside the engine, and the profilers.
KIV_BENCH_PACKAGES=(file linux-perf valgrind strace)
# The benchmark's real files (bench/kivscan/make_corpus.py): documentation PDFs and HTML,
# OpenDocument and Office templates, icons and fonts, as Debian installs them.
KIV_BENCH_PACKAGES+=(python-reportlab-doc live-manual-pdf docbook-xsl-doc-pdf python-odf-doc python3-docx
                     adwaita-icon-theme fonts-urw-base35 fonts-dejavu-core)

kiv_install_missing() {
    local missing=()
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null; then sudo=(sudo); else
            echo "Missing packages (${missing[*]}) and not root: install them first." >&2
            return 1
        fi
    fi
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

# kiv_build <build dir> [cmake options...] [-- targets...]: configures, then builds the targets
# (all when none are named).
kiv_build() {
    local dir=$1
    shift
    local options=() targets=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    targets=("$@")
    cmake -S "$KIV_ROOT" -B "$dir" "${options[@]}" >/dev/null
    if [ ${#targets[@]} -gt 0 ]; then
        cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}"
    else
        cmake --build "$dir" -j"$(nproc)"
    fi
}
