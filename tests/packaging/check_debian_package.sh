#!/bin/sh
# Builds the Debian package from a built tree and checks what a user installs: the files, the
# control fields, and the post-install step that gives the program cap_net_raw.
#   check_debian_package.sh <build folder>
set -eu
build=$1
for tool in cpack dpkg-deb dpkg-shlibdeps; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is missing (Debian: cmake, dpkg, dpkg-dev)"
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    exit 1
fi
deb=$(ls "$work"/out/*.deb)
case $(basename "$deb") in
    kavren-nodrel_1.4_*.deb) ;;
    *) fail "package file name: $(basename "$deb")" ;;
esac

# Files, with the modes that matter.
dpkg-deb -c "$deb" | awk '{ print $1, $6 }' >"$work/contents"
expect_file() {
    grep -qxF -- "$1 $2" "$work/contents" || fail "no '$1 $2' in the package"
}
expect_file -rwxr-xr-x ./usr/bin/nodrel
expect_file -rw-r--r-- ./usr/share/applications/example.kavren.Nodrel.desktop
expect_file -rw-r--r-- ./usr/share/metainfo/example.kavren.Nodrel.metainfo.xml
expect_file -rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/example.kavren.Nodrel.svg
for size in 16 22 24 32 48 64 128 256; do
    expect_file -rw-r--r-- "./usr/share/icons/hicolor/${size}x${size}/apps/example.kavren.Nodrel.png"
done
expect_file -rw-r--r-- ./usr/share/kavren-nodrel/sounds/sound.wav
expect_file -rw-r--r-- ./usr/share/kavren-nodrel/sounds/sound1.wav
expect_file -rw-r--r-- ./usr/share/man/man1/nodrel.1.gz
expect_file -rw-r--r-- ./usr/share/doc/kavren-nodrel/copyright
expect_file -rw-r--r-- ./usr/share/doc/kavren-nodrel/changelog.gz
expect_file -rw-r--r-- ./usr/lib/kavren-nodrel/plugins/nodrel-metrics-http.so
files=$(grep -vc '/$' "$work/contents")
[ "$files" -eq 18 ] || fail "$files files in the package, expected 18: $(cat "$work/contents")"

# Each bitmap is as large as its folder says: width and height from the PNG header.
dpkg-deb -x "$deb" "$work/root"
for size in 16 22 24 32 48 64 128 256; do
    png="$work/root/usr/share/icons/hicolor/${size}x${size}/apps/example.kavren.Nodrel.png"
    dimensions=$(od -An -tu1 -j16 -N8 "$png" | awk '{ printf "%dx%d", $3 * 256 + $4, $7 * 256 + $8 }')
    [ "$dimensions" = "${size}x${size}" ] || fail "icon in ${size}x${size} is $dimensions"
done

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kavren-nodrel ] || fail "Package: $(field Package)"
[ "$(field Version)" = 1.4 ] || fail "Version: $(field Version)"
[ "$(field Section)" = net ] || fail "Section: $(field Section)"
[ "$(field Maintainer)" = "KAVREN <nodrel@kavren.example>" ] || fail "Maintainer: $(field Maintainer)"
[ "$(field Recommends)" = libcap2-bin ] || fail "Recommends: $(field Recommends)"
[ "$(field Description | head -n 1)" = "small floating monitor of whether one host answers pings" ] ||
    fail "Description: $(field Description)"
field Description | sed -n 2p | grep -qx ' KAVREN Nodrel pings one host again and again and shows the recent outcomes' ||
    fail "long description: $(field Description)"
depends=$(field Depends)
for library in qt6-wayland libc6 libqt6widgets6 libqt6gui6 libqt6core6 libqt6dbus6 libsndfile1 libpulse0 libsqlite3-0 libxcb1 libqt6httpserver6; do
    echo "$depends" | grep -q "\\b$library\\b" || fail "Depends lacks $library: $depends"
done

# Debian's own checker: no error, and no warning at all.
if command -v lintian >/dev/null 2>&1; then
    lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1 || fail "lintian: $(cat "$work/lintian")"
else
    echo "NOTE: lintian is missing (Debian: lintian), the package's policy is not checked"
fi

# The post-install step, with a setcap that records its arguments (or fails, as on a file
# system that keeps no capabilities).
dpkg-deb -e "$deb" "$work/control"
postinst=$work/control/postinst
[ -x "$postinst" ] || fail "no executable postinst"
mkdir "$work/bin"
cat >"$work/bin/setcap" <<FAKE
#!/bin/sh
echo "\$@" >>"$work/setcap.calls"
exit \${FAKE_SETCAP_STATUS:-0}
FAKE
chmod +x "$work/bin/setcap"

# Runs the post-install step with the kernel's range of groups given by the first argument,
# through a private mount namespace (root only), or, without one, with the machine's own range.
run_postinst() {
    rm -f "$work/setcap.calls"
    if [ -n "$1" ]; then
        echo "$1" >"$work/range"
        unshare -m sh -c "mount --bind '$work/range' /proc/sys/net/ipv4/ping_group_range &&
            PATH='$work/bin:/usr/bin:/bin' sh '$postinst' configure"
    else
        PATH="$work/bin:/usr/bin:/bin" sh "$postinst" configure
    fi
}
setcap_calls() { cat "$work/setcap.calls" 2>/dev/null || true; }

if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
    run_postinst "1	0" || fail "postinst failed where users may not ping"
    [ "$(setcap_calls)" = "cap_net_raw+ep /usr/bin/nodrel" ] ||
        fail "setcap calls where users may not ping: '$(setcap_calls)'"
    run_postinst "0	2147483647" || fail "postinst failed where everyone may ping"
    [ -z "$(setcap_calls)" ] || fail "setcap called where everyone may ping: '$(setcap_calls)'"
    FAKE_SETCAP_STATUS=1 run_postinst "100	200" || fail "postinst failed when setcap failed"
    [ "$(setcap_calls)" = "cap_net_raw+ep /usr/bin/nodrel" ] ||
        fail "setcap calls for part of the groups: '$(setcap_calls)'"
else
    echo "NOTE: not root, the post-install step runs with this machine's own range only"
    range=$(cat /proc/sys/net/ipv4/ping_group_range)
    run_postinst "" || fail "postinst failed"
    if [ "$range" = "$(printf '0\t2147483647')" ]; then expected=""; else
        expected="cap_net_raw+ep /usr/bin/nodrel"; fi
    [ "$(setcap_calls)" = "$expected" ] || fail "setcap calls for range '$range': '$(setcap_calls)'"
fi
# Without setcap it does nothing, quietly.
rm -f "$work/bin/setcap"
output=$(PATH="$work/bin:/usr/bin:/bin" sh "$postinst" configure 2>&1) || fail "postinst failed without setcap"
[ -z "$output" ] || fail "postinst said '$output' without setcap"

[ "$failures" -eq 0 ] || exit 1
echo "package $(basename "$deb") checked"
