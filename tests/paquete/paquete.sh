#!/usr/bin/env bash
# paquete.sh BUILD_DIR VERSION PREFIX: makes the two packages with cpack, the
# service (orlan-cola, no GUI library) and window mode (orlan-cola-ventana),
# unpacks them and checks which files each holds, their dependencies, that
# the programs start, that the systemd units are valid and hardened (where
# systemd-analyze exists), and what the maintainer scripts do on removal,
# purge and reinstallation.
set -euo pipefail
build=$1 version=$2 prefijo=${3#/}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fallo() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$tmp/cpack" >"$tmp/cpack.log" 2>&1) || { cat "$tmp/cpack.log"; fallo "cpack"; }
deb=$tmp/cpack/orlan-cola_${version}_amd64.deb
ventana=$tmp/cpack/orlan-cola-ventana_${version}_amd64.deb
for d in "$deb" "$ventana"; do
    [ -f "$d" ] || fallo "no $(basename "$d"): $(ls "$tmp/cpack")"
done
[ "$(ls "$tmp/cpack"/*.deb | wc -l)" = 2 ] || fallo "more packages than two: $(ls "$tmp/cpack")"

# archivos DEB EXPECTED: the package holds exactly the expected files.
archivos() {
    local hallados
    hallados=$(dpkg-deb -c "$1" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | LC_ALL=C sort)
    [ "$hallados" = "$(LC_ALL=C sort <<<"$2")" ] ||
        fallo "files of $(basename "$1") differ:$(diff <(LC_ALL=C sort <<<"$2") <(echo "$hallados") || true)"
}
archivos "$deb" "etc/default/orlan-cola
lib/systemd/system/orlan-cola@.service
lib/systemd/system/orlan-panel.service
$prefijo/bin/orlan-admin
$prefijo/bin/orlan-cola
$prefijo/bin/orlan-panel
$prefijo/share/man/man5/orlan.ini.5.gz
$prefijo/share/man/man8/orlan-admin.8.gz
$prefijo/share/man/man8/orlan-cola.8.gz
$prefijo/share/man/man8/orlan-panel.8.gz
$prefijo/share/orlan-cola/esquema/postgresql.sql
$prefijo/share/orlan-cola/esquema/sqlite.sql
$prefijo/share/orlan-cola/esquema/sqlserver.sql
$prefijo/share/orlan-cola/odbc/postgresql/odbcinst.ini
$prefijo/share/orlan-cola/odbc/sqlite/odbcinst.ini
$prefijo/share/orlan-cola/odbc/sqlserver/odbcinst.ini"
archivos "$ventana" "$prefijo/bin/orlan-impresora-virtual
$prefijo/lib/orlan-cola/orlan-cola-ventana
$prefijo/share/man/man1/orlan-impresora-virtual.1.gz"

# A till without a screen gets no GUI library: neither orlan-cola's Depends
# nor its Recommends (which apt installs too) name one.
depende=$(dpkg-deb -f "$deb" Depends)
for p in unixodbc libodbc2 libqt6core6 libqt6serialport6 libqt6network6 libmicrohttpd12; do
    grep -qw "$p" <<<"$depende" || fallo "Depends lacks $p: $depende"
done
recomienda=$(dpkg-deb -f "$deb" Recommends)
for p in tdsodbc libsqliteodbc odbc-postgresql; do
    grep -qw "$p" <<<"$recomienda" || fallo "Recommends lacks $p: $recomienda"
done
for campo in Depends Recommends Suggests Pre-Depends; do
    if dpkg-deb -f "$deb" "$campo" | grep -Eo 'libqt6(gui|widgets|opengl)6|qt6-qpa-plugins|libx11|libxcb[a-z0-9-]*|libgl[a-z0-9]*|libegl[a-z0-9]*|libzint[0-9.]*|fonts-[a-z-]*'; then
        fallo "orlan-cola's $campo names GUI packages: $(dpkg-deb -f "$deb" "$campo")"
    fi
done
# Window mode's package needs the service's of the same version, the GUI
# libraries its programs link and a font to draw receipts with.
depende_ventana=$(dpkg-deb -f "$ventana" Depends)
grep -q "orlan-cola (= $version)" <<<"$depende_ventana" || fallo "orlan-cola-ventana does not depend on orlan-cola $version: $depende_ventana"
for p in libqt6gui6 libqt6widgets6 libzint2.11 fonts-dejavu-core; do
    grep -qw "$p" <<<"$depende_ventana" || fallo "orlan-cola-ventana's Depends lacks $p: $depende_ventana"
done

# The service alone: window mode names the package that brings it.
dpkg-deb -x "$deb" "$tmp/solo"
estado=0
sinventana=$("$tmp/solo/$prefijo/bin/orlan-cola" 2>&1) || estado=$?
[ "$estado" = 1 ] && grep -q "paquete orlan-cola-ventana" <<<"$sinventana" ||
    fallo "window mode without its package: $estado $sinventana"
rm -rf "$tmp/solo"

dpkg-deb -x "$deb" "$tmp/raiz"
dpkg-deb -x "$ventana" "$tmp/raiz"
hallados=$(cd "$tmp/raiz" && find . -type f | sed 's|^\./||')
bin=$tmp/raiz/$prefijo/bin
[ "$("$bin/orlan-cola" --version)" = "orlan-cola $version" ] || fallo "orlan-cola --version"
# The server links no GUI library; window mode is the private program, which
# the installed orlan-cola finds and runs (here it reports the missing display).
if readelf -d "$bin/orlan-cola" | grep -E 'NEEDED.*lib(Qt6Gui|Qt6Widgets|X11|xcb|GL|EGL)[.-]'; then
    fallo "orlan-cola links GUI libraries"
fi
estado=0
sinpantalla=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/orlan-cola" 2>&1) || estado=$?
[ "$estado" = 4 ] && grep -q -- --servicio <<<"$sinpantalla" || fallo "window mode without a display: $estado $sinpantalla"
"$bin/orlan-admin" --help >/dev/null || fallo "orlan-admin --help"
"$bin/orlan-impresora-virtual" --help >/dev/null || fallo "orlan-impresora-virtual --help"
"$bin/orlan-panel" --help >/dev/null || fallo "orlan-panel --help"
for pagina in man8/orlan-cola.8 man8/orlan-admin.8 man1/orlan-impresora-virtual.1 man8/orlan-panel.8 man5/orlan.ini.5; do
    nombre=$(basename "$pagina")
    zcat "$tmp/raiz/$prefijo/share/man/$pagina.gz" | grep -q "^\.TH \"${nombre%.*}\" \"${nombre##*.}\"" ||
        fallo "$pagina is not a manual page"
done

unidad=$tmp/raiz/lib/systemd/system/orlan-cola@.service
grep -qx 'User=%i' "$unidad" || fallo "the unit does not run as the instance's user"
grep -qx "ExecStart=/$prefijo/bin/orlan-cola --servicio" "$unidad" || fallo "the unit's ExecStart"
if command -v systemd-analyze >/dev/null; then
    # An instance of the template, starting the unpacked program.
    sed "s|^ExecStart=/$prefijo/bin/|ExecStart=$bin/|" "$unidad" >"$tmp/orlan-cola@caja.service"
    salida=$(systemd-analyze verify --man=no "$tmp/orlan-cola@caja.service" 2>&1) || fallo "$salida"
    [ -z "$salida" ] || fallo "systemd-analyze verify: $salida"
    exposicion=$(cd "$tmp" && systemd-analyze security --offline=yes ./orlan-cola@caja.service 2>&1 |
        sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    [ -n "$exposicion" ] && awk "BEGIN { exit !($exposicion <= 3.0) }" || fallo "exposure ${exposicion:-unknown} > 3.0"
    panel=$tmp/raiz/lib/systemd/system/orlan-panel.service
    sed "s|^ExecStart=/$prefijo/bin/|ExecStart=$bin/|" "$panel" >"$tmp/orlan-panel.service"
    salida=$(systemd-analyze verify --man=no "$tmp/orlan-panel.service" 2>&1) || fallo "$salida"
    [ -z "$salida" ] || fallo "systemd-analyze verify: $salida"
else
    echo "systemd-analyze not found: the unit was not verified"
fi
# The environment file is a configuration file, and the maintainer scripts
# stop and disable every instance on removal and remove it on purge. They run
# here on a copy of the unpacked tree, with a systemctl that records its calls
# and disables by removing the link, as the real one does.
dpkg-deb -e "$deb" "$tmp/control"
grep -qx /etc/default/orlan-cola "$tmp/control/conffiles" || fallo "/etc/default/orlan-cola is not a conffile"
raiz=$tmp/raiz
mkdir -p "$raiz/run/systemd/system" "$raiz/etc/systemd/system/multi-user.target.wants" "$tmp/fingido"
ln -s /lib/systemd/system/orlan-cola@.service "$raiz/etc/systemd/system/multi-user.target.wants/orlan-cola@caja.service"
# Two users: caja has the server's settings, barra none.
mkdir -p "$raiz/home/caja/.config/orlan" "$raiz/home/barra/.config"
printf '%s\n' 'root:x:0:0:root:/root:/bin/bash' 'caja:x:1000:1000::/home/caja:/bin/bash' \
    'barra:x:1001:1001::/home/barra:/bin/bash' >"$raiz/etc/passwd"
echo '[Configuracion]' >"$raiz/home/caja/.config/orlan/orlan.ini"
cat >"$tmp/fingido/systemctl" <<FIN
#!/bin/sh
echo "\$*" >>"$tmp/llamadas"
case "\$*" in
    list-units*) echo "orlan-cola@caja.service loaded active running Print-queue server" ;;
    is-active*) exit 0 ;;
    *disable*) rm -f "$raiz"/etc/systemd/system/*.wants/"\$(echo "\$*" | awk '{print \$NF}')" ;;
esac
FIN
chmod +x "$tmp/fingido/systemctl"
mantener() { DPKG_ROOT=$raiz PATH="$tmp/fingido:$PATH" sh "$tmp/control/$1" "${@:2}" || fallo "$*"; }
[ -z "$(mantener postinst configure)" ] || fallo "a first installation with an enabled instance printed a hint"
[ "$(cat "$tmp/llamadas")" = daemon-reload ] || fallo "a first installation did more than reload: $(cat "$tmp/llamadas")"
rm "$tmp/llamadas"
# An upgrade (and a reinstallation) restarts what runs, so the new programs serve.
mantener postinst configure 0.9
grep -q "try-restart orlan-cola@caja.service" "$tmp/llamadas" || fallo "an upgrade did not restart the running instance"
rm "$tmp/llamadas"
mantener prerm upgrade
[ ! -e "$tmp/llamadas" ] || fallo "an upgrade stopped or disabled instances: $(cat "$tmp/llamadas")"
mantener prerm remove
grep -qx "stop orlan-cola@caja.service" "$tmp/llamadas" || fallo "prerm did not stop the instance"
[ ! -L "$raiz/etc/systemd/system/multi-user.target.wants/orlan-cola@caja.service" ] ||
    fallo "prerm left the enabled instance's link"
mantener postrm remove
grep -qx daemon-reload "$tmp/llamadas" || fallo "postrm did not reload systemd"
[ -f "$raiz/etc/default/orlan-cola" ] || fallo "remove took the environment file"
# Installed again after a removal, the instances stay disabled: postinst says
# so and names the command for each user with settings.
aviso=$(mantener postinst configure "$version" 2>&1)
grep -q "systemctl enable --now orlan-cola@caja.service" <<<"$aviso" ||
    fallo "a reinstallation after removal did not name the disabled instance: $aviso"
! grep -q barra <<<"$aviso" || fallo "a user without settings was named: $aviso"
echo ORLAN_PANEL_ESCUCHAR=0.0.0.0:8631 >"$raiz/etc/default/orlan-panel"
mkdir -p "$raiz/var/log/orlan-panel/orlan/nodra" && touch "$raiz/var/log/orlan-panel/orlan/nodra/OrlanComTra01012026.log"
mantener postrm purge
[ ! -e "$raiz/var/log/orlan-panel" ] || fallo "purge left the panel's log directory"
[ -f "$raiz/home/caja/.config/orlan/orlan.ini" ] || fallo "purge took a user's settings"
[ ! -e "$raiz/etc/default/orlan-cola" ] || fallo "purge left /etc/default/orlan-cola"
[ ! -e "$raiz/etc/default/orlan-panel" ] || fallo "purge left /etc/default/orlan-panel"

echo "$(basename "$deb") and $(basename "$ventana"): $(wc -l <<<"$hallados") files, all checks passed"
