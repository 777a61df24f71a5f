#!/bin/sh
# The launcher and the AppStream metainfo pass the freedesktop validators.
#   validate_desktop_files.sh <folder holding them>
set -eu
folder=$1
for tool in desktop-file-validate appstreamcli; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is missing (Debian: desktop-file-utils, appstream)"
        exit 77
    fi
done
desktop-file-validate "$folder/example.kavren.Nodrel.desktop"
appstreamcli validate --no-net "$folder/example.kavren.Nodrel.metainfo.xml"
