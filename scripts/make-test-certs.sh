#!/usr/bin/env bash
# make-test-certs.sh OUTDIR
# Makes the X.509 certificates the tests use, as NAME.der and NAME.pem (keys as NAME.key). Validity periods
# are relative to now, so the expiry cases stay true on any day; OUTDIR/.stamp records the day they were made
# and the set is made anew when it is older than a day or this script changed.
set -euo pipefail
out=$1
mkdir -p "$out"
stamp="$out/.stamp"
want="$(date -u +%Y%m%d) $(sha1sum "$0" | cut -c1-12)"
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir newcerts
: > index.txt
echo 1000 > serial
cat > ca.cnf <<'CNF'
[ ca ]
default_ca = testca
[ testca ]
database = index.txt
new_certs_dir = newcerts
serial = serial
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
email_in_dn = no
[ anything ]
commonName = supplied
organizationName = optional
countryName = optional
[ req ]
distinguished_name = dn
prompt = no
[ dn ]
CN = unused
[ v3_root ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ v3_inter ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
[ v3_ku_ca ]
keyUsage = critical, keyCertSign
[ v3_sign ]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
[ v3_enc ]
basicConstraints = CA:FALSE
keyUsage = critical, keyEncipherment, dataEncipherment
[ v3_nokey ]
subjectKeyIdentifier = hash
[ v3_big ]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
nsComment = @BIGCOMMENT@
CNF
big=$(head -c 9000 /dev/zero | tr '\0' 'x')
sed -i "s/@BIGCOMMENT@/$big/" ca.cnf

ts() { date -u -d "$1" +%Y%m%d%H%M%SZ; }
key() { [ -f "$1.key" ] || openssl genrsa -out "$1.key" 2048 2>/dev/null; }

# issue NAME "CN=..." EXT SIGNER NOT_BEFORE NOT_AFTER [KEYNAME] [SERIAL]
issue() {
  local name=$1 subj=$2 ext=$3 signer=$4 nb=$5 na=$6 keyname=${7:-$1} serial=${8:-}
  key "$keyname"
  openssl req -new -config ca.cnf -key "$keyname.key" -subj "/$subj" -out "$name.csr" 2>/dev/null
  [ -n "$serial" ] && echo "$serial" > serial
  local signargs=(-cert "$signer.pem" -keyfile "$signer.key")
  [ "$signer" = self ] && signargs=(-selfsign -keyfile "$keyname.key")
  openssl ca -batch -config ca.cnf -extensions "$ext" "${signargs[@]}" -in "$name.csr" -out "$name.pem" \
    -startdate "$(ts "$nb")" -enddate "$(ts "$na")" -notext -utf8 2>/dev/null
  openssl x509 -in "$name.pem" -outform DER -out "$name.der"
}

now="now"
issue root        "CN=Opalix Test Root CA/O=Opalix Bank"            v3_root  self  "-1 day"   "+3650 days"
issue inter       "CN=Opalix Issuing CA/O=Opalix Bank"              v3_inter root  "-1 day"   "+3000 days"
issue ku_ca       "CN=Opalix Key Usage CA/O=Opalix Bank"            v3_ku_ca root  "-1 day"   "+3000 days"
issue sign        "CN=Alice Signer/O=Opalix Bank"                   v3_sign  inter "-1 day"   "+700 days"
issue enc         "CN=Bob Encipher/O=Opalix Bank"                   v3_enc   inter "-1 day"   "+700 days"
issue nokey       "CN=Carol Plain/O=Opalix Bank"                    v3_nokey inter "-1 day"   "+700 days"
issue shared_a    "CN=Dave Shared A/O=Opalix Bank"                  v3_sign  inter "-1 day"   "+700 days" shared
issue shared_b    "CN=Dave Shared B/O=Opalix Bank"                  v3_enc   inter "-1 day"   "+700 days" shared
issue expired     "CN=Erin Expired/O=Opalix Bank"                   v3_sign  inter "-400 days" "-36 hours"
issue expiring    "CN=Frank Soon/O=Opalix Bank"                     v3_sign  inter "-1 day"   "+10 days"
issue exp_29d12h  "CN=Grace 29.5 Days/O=Opalix Bank"                v3_sign  inter "-1 day"   "+708 hours"
issue exp_31d     "CN=Heidi 31 Days/O=Opalix Bank"                  v3_sign  inter "-1 day"   "+31 days"
issue exp_p6h     "CN=Ivan Six Hours Ahead/O=Opalix Bank"           v3_sign  inter "-1 day"   "+6 hours"
issue exp_m6h     "CN=Judy Six Hours Behind/O=Opalix Bank"          v3_sign  inter "-10 days" "-6 hours"
issue serial_hi   "CN=Mallory High Serial/O=Opalix Bank"            v3_sign  inter "-1 day"   "+700 days" serial_hi 00800000000000000001
issue serial_lz   "CN=Niaj Leading Zero/O=Opalix Bank"              v3_sign  inter "-1 day"   "+700 days" serial_lz 0001A2
issue utf8name    "CN=Zoë Ünïcode 張三/O=Opalix Bank"                 v3_sign  inter "-1 day"   "+700 days"
# Both names near the 64-character limit, so the display name "<subject>'s <issuer> ID" exceeds 99 characters.
issue longca      "CN=$(printf 'K%.0s' $(seq 60))/O=Opalix Bank"    v3_inter root  "-1 day"   "+3000 days"
issue longname    "CN=$(printf 'L%.0s' $(seq 60))/O=Opalix Bank"    v3_sign  longca "-1 day"  "+700 days"
issue big         "CN=Oscar Big Certificate/O=Opalix Bank"          v3_big   inter "-1 day"   "+700 days"

for f in *.pem; do cp "$f" "$out/"; done
for f in *.der *.key; do cp "$f" "$out/"; done
printf 'not a certificate at all\n' > "$out/garbage.der"

# 100 distinct end-entity certificates sharing one key (testcerts/bulk/), for tokens with many certificates.
rm -rf "$out/bulk"
mkdir -p "$out/bulk"
for i in $(seq -w 1 100); do
  issue "bulk$i" "CN=Bulk Holder $i/O=Opalix Bank" v3_enc inter "-1 day" "+700 days" bulk
  cp "bulk$i.der" "$out/bulk/"
done
echo "$want" > "$stamp"
