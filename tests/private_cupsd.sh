# A private cupsd for a test, on the loopback address: sourced by the tests that need one.
# start_private_cupsd TOP PORT [LINE...] writes TOP/conf/cupsd.conf (the port, open to
# every client, with LINE... added) beside the caller's TOP/conf/cups-files.conf, starts
# the daemon and waits until it answers. Sets cupsd_pid, by which the caller stops it;
# fails when the daemon does not answer.
start_private_cupsd() {
  local top=$1 port=$2
  shift 2
  {
    echo "Listen 127.0.0.1:$port"
    echo "Browsing No"
    printf '%s\n' "$@"
    printf '%s\n' '<Location />' '  Order allow,deny' '  Allow all' '</Location>' \
      '<Policy default>' '  <Limit All>' '    Order deny,allow' '  </Limit>' '</Policy>'
  } >"$top/conf/cupsd.conf"
  cupsd -f -c "$top/conf/cupsd.conf" -s "$top/conf/cups-files.conf" &
  cupsd_pid=$!
  for _ in $(seq 100); do
    lpstat -r 2>/dev/null | grep -q "is running" && return 0
    sleep 0.1
  done
  lpstat -r 2>/dev/null | grep -q "is running"
}
