#!/bin/sh
# Makes, in the folder given, a throwaway CA, TSA certificates for RSA, RSA-PSS, ECDSA P-256,
# Ed25519 and Ed448 keys (extended key usage timeStamping, critical), time-stamp requests and
# OpenSSL's responses and tokens to them. The tests read the results; nothing here is kept.
#
#   make_tsa.sh OUT_DIR
#
# OpenSSL 3.0's `ts -reply` signs with RSA and ECDSA keys only; the RSA-PSS token is signed by
# `cms -sign` over the TSTInfo of an RSA token. Ed25519 and Ed448 keys and certificates are made
# here; OpenSSL 3.0 cannot sign CMS with them, so the tests build those tokens themselves.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=$1
mkdir -p "$out"
cd "$out"
export OPENSSL_CONF="$here/tsa.cnf"
cnf="$here/tsa.cnf"
export TSA_SERIAL="$out/serial"
export TSA_CHAIN="$out/chain.pem"
echo 7F > serial

openssl req -x509 -new -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 3650 \
  -subj "/O=Horodex Test/CN=Test Root CA" -config "$cnf" -extensions v3_ca 2>/dev/null
for alg in rsa pss ec ed25519 ed448; do
  case $alg in
    rsa) newkey="-newkey rsa:2048" ;;
    pss) newkey="-newkey rsa-pss -pkeyopt rsa_keygen_bits:2048" ;;
    ec) newkey="-newkey ec -pkeyopt ec_paramgen_curve:P-256" ;;
    ed25519) newkey="-newkey ed25519" ;;
    ed448) newkey="-newkey ed448" ;;
  esac
  openssl req -new $newkey -nodes -keyout "$alg.key" -out "$alg.csr" \
    -subj "/C=DE/O=Horodex Test/CN=TSA $alg" -config "$cnf" 2>/dev/null
  openssl x509 -req -in "$alg.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 \
    -out "$alg.pem" -extfile "$cnf" -extensions v3_tsa 2>/dev/null
  openssl x509 -in "$alg.pem" -outform DER -out "$alg.der"
done
cp ca.pem chain.pem
# The RSA TSA's key again, in a certificate that the CA signs with SHA3-256.
openssl x509 -req -in rsa.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 -sha3-256 \
  -out rsa-sha3.pem -extfile "$cnf" -extensions v3_tsa 2>/dev/null
cp rsa.key rsa-sha3.key

printf 'The data that the tests stamp.\n' > data.txt
# Requests: with nonce, certReq and policy; without nonce; SHA-512 without certReq.
openssl ts -query -data data.txt -sha256 -cert -tspolicy 1.2.3.4.5 -out q-full.tsq
openssl ts -query -data data.txt -sha256 -no_nonce -out q-nononce.tsq
openssl ts -query -data data.txt -sha512 -out q-sha512.tsq
# A request for SHA-1, which neither TSA section accepts, and one for a policy it does not have.
openssl ts -query -data data.txt -sha1 -cert -out q-sha1.tsq
openssl ts -query -data data.txt -sha256 -tspolicy 1.2.3.4.77 -out q-badpolicy.tsq
# The digests without a classic ALG_ID.
openssl ts -query -data data.txt -sha224 -cert -out q-sha224.tsq
openssl ts -query -data data.txt -sha3-256 -cert -out q-sha3.tsq

reply() {  # section query signer output [extra options]
  section=$1 query=$2 signer=$3 output=$4
  shift 4
  openssl ts -reply -config "$cnf" -section "$section" -queryfile "$query" \
    -signer "$signer.pem" -inkey "$signer.key" -out "$output" "$@" 2>/dev/null
}
reply full q-full.tsq rsa rsa-full.tsr
reply full q-full.tsq rsa rsa-full.tst -token_out
reply bare q-nononce.tsq rsa rsa-bare.tsr
reply full q-sha512.tsq ec ec-full.tsr
reply bare q-nononce.tsq ec ec-bare.tst -token_out
reply full q-sha1.tsq rsa rejected-alg.tsr
reply full q-badpolicy.tsq rsa rejected-policy.tsr
reply sha224 q-sha224.tsq rsa rsa-sha224.tsr
reply sha3 q-sha3.tsq rsa-sha3 rsa-sha3.tsr

# The TSTInfo of the RSA token, signed with RSA-PSS by the CMS signer.
offset=$(openssl asn1parse -inform DER -in rsa-full.tst | awk -F: '/OCTET STRING/ { print $1 + 0; exit }')
openssl asn1parse -inform DER -in rsa-full.tst -strparse "$offset" -noout -out tstinfo.der
openssl cms -sign -binary -nodetach -in tstinfo.der -econtent_type 1.2.840.113549.1.9.16.1.4 \
  -signer pss.pem -inkey pss.key -md sha256 -keyopt rsa_padding_mode:pss \
  -keyopt rsa_pss_saltlen:32 -outform DER -out pss-cms.tst
# CMS forms a TSA may send: BER with indefinite lengths and a constructed eContent (streamed),
# a signer named by subjectKeyIdentifier, and a signer without signed attributes.
cmssign() {  # signer output [extra options]
  signer=$1 output=$2
  shift 2
  openssl cms -sign -binary -nodetach -in tstinfo.der -econtent_type 1.2.840.113549.1.9.16.1.4 \
    -signer "$signer.pem" -inkey "$signer.key" -outform DER -out "$output" "$@"
}
cmssign ec ec-ber.tst -stream
cmssign rsa rsa-keyid.tst -keyid -nocerts
cmssign rsa rsa-noattr.tst -noattr
echo done > ready
