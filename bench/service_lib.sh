# Starts a private skivaddon-service for a benchmark (sourced after lib.sh):
# sets $url, $ca and registers members "bench" (the program) and "base" (the
# baseline tools), both with password "bench-password".
svc_data=$(mktemp -d "${TMPDIR:-/tmp}/skiv-bench-svc.XXXXXX")
"$bin/server/skivaddon-service" --data "$svc_data" --listen 127.0.0.1:0 --max-package-mb 2048 \
  >"$svc_data/out" 2>"$svc_data/log" &
svc_pid=$!
trap 'kill $svc_pid 2>/dev/null; wait $svc_pid 2>/dev/null; rm -rf "$svc_data" "$results"' EXIT
for _ in $(seq 1 100); do grep -q '^listening on ' "$svc_data/out" && break; sleep 0.1; done
url=$(sed -n 's/^listening on //p' "$svc_data/out")
ca="$svc_data/tls/ca.pem"
# One member for the program, one for the baseline: each installs its own.
for m in bench base; do
  printf 'bench-password\n' | "$bin/server/skivaddon-service" --data "$svc_data" member add "$m" >/dev/null
done
export SKIVADDON_SERVICE_URL="$url" SKIVADDON_CA_FILE="$ca"

# curl_login: logs member "base" in; prints "KEY UPLOADURL DOWNLOADURL".
curl_login() {
  { curl -s --cacert "$ca" --data-urlencode avsMemberID=base --data-urlencode avsPassword=bench-password \
      "$url/skivaddon/actskivaddonlogin.aspx" | tr -d "\r\n"; echo; } |
    sed -n 's:.*<memberkey>\(.*\)</memberkey><uploadURL>\(.*\)</uploadURL><downloadURL>\(.*\)</downloadURL>.*:\1 \2 \3:p'
}
export -f curl_login
export url ca
