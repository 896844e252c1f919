#!/bin/sh
# conformance script
set -eu
echo "hello"
