#!/bin/sh
# Writes standard input to $1 with every line ended by CR LF (expected files of the
# golden cases are written by hand as plain lines).
sed 's/$/\r/' > "$1"
