#!/bin/sh
# Installs the Debian packages that building and testing kvca need.
set -eu
packages="cmake ninja-build g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
          wine wine64 wixl msitools googletest osslsigncode openssl"
missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $package"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y $missing
fi
