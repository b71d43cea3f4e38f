// The CMS-signature peer of the interoperability tests: Bouncy Castle signs and adds signature
// time-stamps (unsigned attribute id-aa-signatureTimeStampToken over each SignerInfo's signature
// octets). One command a run; prints "ok" or "refused: REASON" and exits 0 or 1.
//   sign-stamp KEYPEM CERTPEM DATA TSAURL OUT [detached] [nostamp]
//                          SHA-256 signature of DATA (RSA or EC key, PKCS#8 or traditional PEM)
//                          signing contentType, messageDigest, signingTime, algorithm protection
//                          and signing-certificate v2, the certificate included, the content
//                          attached unless "detached"; then a token from TSAURL for every signer
//                          unless "nostamp". OUT is DER
import java.io.*;
import java.math.BigInteger;
import java.net.HttpURLConnection;
import java.net.URL;
import java.nio.file.Files;
import java.security.PrivateKey;
import java.util.*;
import org.bouncycastle.asn1.*;
import org.bouncycastle.asn1.cms.Attribute;
import org.bouncycastle.asn1.cms.AttributeTable;
import org.bouncycastle.asn1.cms.ContentInfo;
import org.bouncycastle.asn1.ess.ESSCertIDv2;
import org.bouncycastle.asn1.ess.SigningCertificateV2;
import org.bouncycastle.asn1.pkcs.PKCSObjectIdentifiers;
import org.bouncycastle.asn1.pkcs.PrivateKeyInfo;
import org.bouncycastle.asn1.x509.AlgorithmIdentifier;
import org.bouncycastle.asn1.x509.BasicConstraints;
import org.bouncycastle.cert.X509CertificateHolder;
import org.bouncycastle.cms.*;
import org.bouncycastle.cms.jcajce.JcaSimpleSignerInfoVerifierBuilder;
import org.bouncycastle.openssl.PEMKeyPair;
import org.bouncycastle.openssl.PEMParser;
import org.bouncycastle.openssl.jcajce.JcaPEMKeyConverter;
import org.bouncycastle.operator.DigestCalculator;
import org.bouncycastle.operator.jcajce.JcaContentSignerBuilder;
import org.bouncycastle.operator.jcajce.JcaContentVerifierProviderBuilder;
import org.bouncycastle.operator.jcajce.JcaDigestCalculatorProviderBuilder;
import org.bouncycastle.tsp.*;
import org.bouncycastle.util.Selector;
import org.bouncycastle.util.Store;

public class CadesPeer {
  static final ASN1ObjectIdentifier STAMP = PKCSObjectIdentifiers.id_aa_signatureTimeStampToken;

  static byte[] hash(AlgorithmIdentifier algorithm, byte[] data) throws Exception {
    DigestCalculator digest = new JcaDigestCalculatorProviderBuilder().build().get(algorithm);
    digest.getOutputStream().write(data);
    return digest.getDigest();
  }

  static byte[] sha256(byte[] data) throws Exception {
    return hash(new AlgorithmIdentifier(TSPAlgorithms.SHA256), data);
  }

  static List<Object> pem(String path) throws Exception {
    List<Object> objects = new ArrayList<>();
    try (PEMParser pem = new PEMParser(new FileReader(path))) {
      for (Object o; (o = pem.readObject()) != null;) {
        objects.add(o);
      }
    }
    return objects;
  }

  static List<X509CertificateHolder> certificates(String path) throws Exception {
    List<X509CertificateHolder> certs = new ArrayList<>();
    for (Object o : pem(path)) {
      if (o instanceof X509CertificateHolder) {
        certs.add((X509CertificateHolder) o);
      }
    }
    return certs;
  }

  static PrivateKey privateKey(String path) throws Exception {
    for (Object o : pem(path)) { // "EC PARAMETERS" blocks come first in some files
      if (o instanceof PEMKeyPair) {
        return new JcaPEMKeyConverter().getPrivateKey(((PEMKeyPair) o).getPrivateKeyInfo());
      }
      if (o instanceof PrivateKeyInfo) {
        return new JcaPEMKeyConverter().getPrivateKey((PrivateKeyInfo) o);
      }
    }
    throw new Exception("no private key in " + path);
  }

  static TimeStampToken token(String url, byte[] signatureOctets) throws Exception {
    TimeStampRequestGenerator generator = new TimeStampRequestGenerator();
    generator.setCertReq(true);
    TimeStampRequest request = generator.generate(
        TSPAlgorithms.SHA256, sha256(signatureOctets), BigInteger.valueOf(System.nanoTime()));
    HttpURLConnection c = (HttpURLConnection) new URL(url).openConnection();
    c.setDoOutput(true);
    c.setRequestProperty("Content-Type", "application/timestamp-query");
    try (OutputStream out = c.getOutputStream()) {
      out.write(request.getEncoded());
    }
    try (InputStream in = c.getInputStream()) {
      TimeStampResponse response = new TimeStampResponse(in.readAllBytes());
      response.validate(request);
      if (response.getTimeStampToken() == null) {
        throw new Exception(
            "TSA answered status " + response.getStatus() + ": " + response.getStatusString());
      }
      return response.getTimeStampToken();
    }
  }

  static CMSSignedData stamp(CMSSignedData signed, String url) throws Exception {
    List<SignerInformation> signers = new ArrayList<>();
    for (SignerInformation signer : signed.getSignerInfos().getSigners()) {
      AttributeTable unsigned = signer.getUnsignedAttributes();
      if (unsigned == null) {
        unsigned = new AttributeTable(new ASN1EncodableVector());
      }
      ContentInfo token = token(url, signer.getSignature()).toCMSSignedData().toASN1Structure();
      signers.add(SignerInformation.replaceUnsignedAttributes(signer, unsigned.add(STAMP, token)));
    }
    return CMSSignedData.replaceSigners(signed, new SignerInformationStore(signers));
  }

  @SuppressWarnings({"unchecked", "rawtypes"}) // SignerId is a raw Selector
  static void run(String[] a) throws Exception {
    switch (a[0]) {
      case "sign-stamp": {
        List<String> flags = Arrays.asList(a).subList(6, a.length);
        PrivateKey key = privateKey(a[1]);
        X509CertificateHolder cert = certificates(a[2]).get(0);
        Attribute essCert = new Attribute(PKCSObjectIdentifiers.id_aa_signingCertificateV2,
            new DERSet(new SigningCertificateV2(new ESSCertIDv2(sha256(cert.getEncoded())))));
        String algorithm = key.getAlgorithm().equals("RSA") ? "SHA256withRSA" : "SHA256withECDSA";
        CMSSignedDataGenerator generator = new CMSSignedDataGenerator();
        generator.addSignerInfoGenerator(
            new SignerInfoGeneratorBuilder(new JcaDigestCalculatorProviderBuilder().build())
                .setSignedAttributeGenerator(
                    new DefaultSignedAttributeTableGenerator(new AttributeTable(essCert)))
                .build(new JcaContentSignerBuilder(algorithm).build(key), cert));
        generator.addCertificate(cert);
        CMSSignedData signed = generator.generate(
            new CMSProcessableByteArray(Files.readAllBytes(new File(a[3]).toPath())),
            !flags.contains("detached"));
        if (!flags.contains("nostamp")) {
          signed = stamp(signed, a[4]);
        }
        Files.write(new File(a[5]).toPath(), signed.getEncoded("DER"));
        break;
      }
      default:
        throw new Exception("unknown command " + a[0]);
    }
  }

  public static void main(String[] a) {
    try {
      run(a);
      System.out.println("ok");
    } catch (Exception e) {
      // Our own refusals carry their reason alone; anything else is named by its class.
      System.out.println("refused: " + (e.getClass() == Exception.class ? e.getMessage() : e));
      System.exit(1);
    }
  }
}
