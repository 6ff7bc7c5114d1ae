#!/usr/bin/env bash
# Installs what building, running and testing tolmi needs, and nothing that is already there.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-translations-l10n libcurl4-openssl-dev
    fonts-wqy-microhei
    python3 python3-pyftpdlib python3-openssl openssl
    curl lftp
    # the SSH server of the SFTP tests; they start their own, never the system's
    openssh-server
    # the Debian package and its checks, desktop metadata validators, a real X11 session
    dpkg-dev lintian desktop-file-utils appstream xvfb x11-utils openbox wmctrl
    # the fuzzer build
    clang libclang-rt-14-dev
    # shared libraries of the proftpd test server, which is unpacked below
    libwrap0 libsodium23 libhiredis0.14 libmemcached11 libmemcachedutil2 libpcre2-posix3
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

# proftpd conflicts with any other installed FTP server package, so it is unpacked
# into the tree instead of installed; nothing of it reaches /etc or /run.
proftpd_dir=.deps/proftpd
download() {
    mkdir -p .deps/download
    (cd .deps/download && apt-get download "$1" 2>/dev/null || as_root apt-get download "$1")
}
if [ ! -x "$proftpd_dir/usr/sbin/proftpd" ]; then
    download proftpd-core
    rm -rf "$proftpd_dir"
    dpkg-deb -x .deps/download/proftpd-core_*.deb "$proftpd_dir"
fi
# Its TLS module, for the tests of FTP over TLS.
if [ ! -f "$proftpd_dir/usr/lib/proftpd/mod_tls.so" ]; then
    download proftpd-mod-crypto
    dpkg-deb -x .deps/download/proftpd-mod-crypto_*.deb "$proftpd_dir"
fi
