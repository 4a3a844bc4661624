# Shared helpers of the benchmark scripts (sourced).
# measure NAME CMD...: runs CMD (through bash -c) with GNU time, appending
# "NAME wall_seconds peak_kib" to $results.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
bin="$root/${SKIV_BUILD_DIR:-build}"
runs="${RUNS:-3}"
results=$(mktemp /tmp/skiv-bench-results.XXXXXX)

measure() {
  local name="$1"; shift
  local out
  out=$(/usr/bin/time -f "%e %M %x" bash -c "$*" 2>&1 >/dev/null | tail -n 1) || true
  if [[ "${out##* }" != "0" ]]; then
    echo "bench: '$name' failed (exit ${out##* })" >&2
    exit 1
  fi
  echo "$name ${out% *}" >>"$results"
}

# median NAME FIELD(2=wall,3=peak): median of the recorded runs.
median() {
  awk -v n="$1" -v f="$2" '$1==n {print $f}' "$results" | sort -g |
    awk '{a[NR]=$1} END {if (NR==0) print "nan"; else if (NR%2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'
}

# report OURS BASE LABEL: prints medians and the ratio ours/baseline.
report() {
  local a b am bm
  a=$(median "$1" 2); b=$(median "$2" 2); am=$(median "$1" 3); bm=$(median "$2" 3)
  printf '%-34s %8.2f s  (peak %7d KiB)\n' "$1" "$a" "${am%.*}"
  printf '%-34s %8.2f s  (peak %7d KiB)\n' "$2" "$b" "${bm%.*}"
  awk -v a="$a" -v b="$b" -v l="$3" 'BEGIN {printf "%-34s %8.2fx\n", l " ratio", a / b}'
}

ensure_set() {  # FOLDER SCALE
  if [[ ! -f "$1/.complete-$2" ]]; then
    rm -rf "$1"
    "$bin/bench/skiv-gen-addon-set" "$1" --scale "$2"
    touch "$1/.complete-$2"
  fi
}

# same_files A B: true when the two folders hold the same files with the
# same bytes. Folders that hold no file are left out: the archive records
# files only.
same_files() {
  diff <(cd "$1" && find . -type f -print0 | sort -z | xargs -0 sha1sum) \
       <(cd "$2" && find . -type f -print0 | sort -z | xargs -0 sha1sum) >/dev/null
}

# check_same A B WHAT: says whether WHAT (B) equals A; a difference ends the
# benchmark, since its figures would be for the wrong work.
check_same() {
  if same_files "$1" "$2"; then
    echo "$3: same files as the set"
  else
    echo "bench: $3 differs from the set" >&2
    exit 1
  fi
}

# Writes DIR/nginx.conf: nginx in the foreground serving DIR/www over HTTPS
# on 127.0.0.1:PORT with DIR/server.pem and DIR/server-key.pem, its pid,
# log and temporary files under DIR. The download baseline of the benches.
write_static_nginx_conf() {
  local ngx=$1 port=$2
  cat >"$ngx/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $ngx/nginx.pid;
error_log $ngx/error.log;
events { worker_connections 64; }
http {
  access_log off;
  default_type application/octet-stream;
  client_body_temp_path $ngx/tmp/body;
  proxy_temp_path $ngx/tmp/proxy;
  fastcgi_temp_path $ngx/tmp/fastcgi;
  uwsgi_temp_path $ngx/tmp/uwsgi;
  scgi_temp_path $ngx/tmp/scgi;
  server {
    listen 127.0.0.1:$port ssl;
    ssl_certificate $ngx/server.pem;
    ssl_certificate_key $ngx/server-key.pem;
    ssl_protocols TLSv1.2 TLSv1.3;
    root $ngx/www;
  }
}
EOF
}

# login_loop COUNT: COUNT logins of member "crowd" at the service $url (CA
# file $ca); fails on any refusal.
login_loop() {
  for ((i = 0; i < $1; i++)); do
    curl -s --fail --cacert "$ca" --data-urlencode avsMemberID=crowd \
      --data-urlencode avsPassword=bench-password "$url/skivaddon/actskivaddonlogin.aspx" |
      grep -q '<error>0</error>' || return 1
  done
}
