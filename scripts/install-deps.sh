#!/usr/bin/env bash
# Installs every Debian package the build, the demo and the tests need (run as root).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq \
  cmake ninja-build g++ libgtest-dev libssl-dev zlib1g-dev \
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev \
  clang libclang-rt-14-dev \
  wine wine64 xvfb x11-utils imagemagick icoutils strace osslsigncode openssl \
  wixl msitools \
  python3 python3-pytest python3-pytest-xdist python3-pefile locales \
  openjdk-17-jdk-headless zip unzip \
  maven libmaven3-core-java libmaven-plugin-tools-java libmaven-resources-plugin-java \
  libmaven-compiler-plugin-java libmaven-jar-plugin-java libmaven-install-plugin-java \
  libsurefire-java >/dev/null
