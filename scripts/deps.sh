#!/usr/bin/env bash
# Installs the Debian packages the build and the program need, only those missing.
#   scripts/deps.sh          what ./run needs: the compiler, Qt, the fonts, iproute2
#   scripts/deps.sh --test   also what ./test needs: the real TFTP server and client the firmware tests
#                            talk to, and the tools that build and check the installed files and the package
# Further arguments name more packages.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libyaml-dev qt6-translations-l10n fonts-wqy-microhei iproute2)
if [[ ${1:-} == --test ]]; then
    shift
    packages+=(
        # Firmware uploads against TFTP programs no one here wrote.
        tftpd-hpa tftp-hpa
        # Installing and packaging: icons rendered from SVG, manual pages from scdoc, the Debian package
        # (dpkg-shlibdeps) and the checks of what is installed (desktop entry, metainfo, lintian, completion).
        librsvg2-bin scdoc dpkg-dev desktop-file-utils appstream lintian bash-completion
        # The metrics file of status --watch, read by parsers no one here wrote, checked by promtool
        # (with the example alert rules) and served by node_exporter's textfile collector.
        python3-prometheus-client prometheus prometheus-node-exporter
        # The Ansible collection in ansible/, built, installed and played against simulated devices, and
        # its ansible-test sanity run on these tools instead of downloads.
        ansible-core python3-venv python3-voluptuous yamllint pylint pycodestyle
        # The windows read through the real accessibility interface (AT-SPI), as a screen reader reads
        # them: a private X server, the accessibility bus and its Python client.
        xvfb at-spi2-core python3-pyatspi
        # A serial port through the terminal bridge, opened as Python's serial opens a device; the bridge's
        # benchmark against socat doing the same bridge.
        python3-serial socat
        # The fuzz harnesses: clang with libFuzzer and the sanitizers' runtime.
        clang libclang-rt-14-dev
        # lld links the hundred test programs of each build several times faster than ld.
        lld
    )
fi
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
