// The evidence-record peer of the interoperability tests: Bouncy Castle's ERS classes run as a
// program. One command a run; prints "ok" or "refused: REASON" and exits 0 or 1.
//   stamp URL HASH OUTDIR ITEM...   records for the items under one stamp: OUTDIR/N.ers for the
//                                   N-th item (0-based); an item "a+b" is a group of two files
//   renew-ts URL RECORD OUT         timestamp renewal
//   renew-hash URL HASH RECORD DATA OUT   hash-tree renewal with the new algorithm HASH
//   verify RECORD DATA CAPEM        the data is in the record, every stamp's signature and its TSA
//                                   certificate under the CA
import java.io.*;
import java.math.BigInteger;
import java.net.HttpURLConnection;
import java.net.URL;
import java.nio.file.Files;
import java.util.*;

import org.bouncycastle.asn1.ASN1ObjectIdentifier;
import org.bouncycastle.asn1.x509.AlgorithmIdentifier;
import org.bouncycastle.asn1.tsp.ArchiveTimeStamp;
import org.bouncycastle.asn1.tsp.ArchiveTimeStampChain;
import org.bouncycastle.cert.X509CertificateHolder;
import org.bouncycastle.cms.jcajce.JcaSimpleSignerInfoVerifierBuilder;
import org.bouncycastle.openssl.PEMParser;
import org.bouncycastle.operator.DigestCalculator;
import org.bouncycastle.operator.DigestCalculatorProvider;
import org.bouncycastle.operator.jcajce.JcaContentVerifierProviderBuilder;
import org.bouncycastle.operator.jcajce.JcaDigestCalculatorProviderBuilder;
import org.bouncycastle.tsp.*;
import org.bouncycastle.tsp.ers.*;

public class ErsPeer {
  static DigestCalculatorProvider digests() throws Exception {
    return new JcaDigestCalculatorProviderBuilder().build();
  }

  static DigestCalculator digest(String oid) throws Exception {
    return digests().get(new AlgorithmIdentifier(new ASN1ObjectIdentifier(oid)));
  }

  static TimeStampResponse post(String url, TimeStampRequest request) throws Exception {
    HttpURLConnection c = (HttpURLConnection) new URL(url).openConnection();
    c.setDoOutput(true);
    c.setRequestProperty("Content-Type", "application/timestamp-query");
    try (OutputStream out = c.getOutputStream()) {
      out.write(request.getEncoded());
    }
    try (InputStream in = c.getInputStream()) {
      TimeStampResponse response = new TimeStampResponse(in.readAllBytes());
      response.validate(request);
      return response;
    }
  }

  static TimeStampRequestGenerator requests() {
    TimeStampRequestGenerator generator = new TimeStampRequestGenerator();
    generator.setCertReq(true);
    return generator;
  }

  static ERSData item(String spec) throws Exception {
    String[] parts = spec.split("\\+");
    if (parts.length == 1) {
      return new ERSFileData(new File(spec));
    }
    List<ERSData> members = new ArrayList<>();
    for (String part : parts) {
      members.add(new ERSFileData(new File(part)));
    }
    return new ERSDataGroup(members);
  }

  static ERSEvidenceRecord read(String path) throws Exception {
    return new ERSEvidenceRecord(Files.readAllBytes(new File(path).toPath()), digests());
  }

  static void run(String[] a) throws Exception {
    switch (a[0]) {
      case "stamp": {
        ERSArchiveTimeStampGenerator generator = new ERSArchiveTimeStampGenerator(digest(a[2]));
        List<ERSData> items = new ArrayList<>();
        for (int i = 4; i < a.length; ++i) {
          items.add(item(a[i]));
        }
        generator.addAllData(items);
        TimeStampRequest request =
            generator.generateTimeStampRequest(requests(), BigInteger.valueOf(System.nanoTime()));
        List<ERSArchiveTimeStamp> stamps = generator.generateArchiveTimeStamps(post(a[1], request));
        List<ERSEvidenceRecord> records = new ERSEvidenceRecordGenerator(digests()).generate(stamps);
        // Written by the item each record holds, whatever order the generator gave them in.
        for (int i = 0; i < items.size(); ++i) {
          for (ERSEvidenceRecord record : records) {
            if (record.isContaining(items.get(i), new Date())) {
              Files.write(new File(a[3], i + ".ers").toPath(), record.getEncoded());
            }
          }
        }
        break;
      }
      case "renew-ts": {
        ERSEvidenceRecord record = read(a[2]);
        TimeStampRequest request = record.generateTimeStampRenewalRequest(requests());
        Files.write(new File(a[3]).toPath(), record.renewTimeStamp(post(a[1], request)).getEncoded());
        break;
      }
      case "renew-hash": {
        ERSEvidenceRecord record = read(a[3]);
        DigestCalculator next = digest(a[2]);
        ERSData data = item(a[4]);
        TimeStampRequest request = record.generateHashRenewalRequest(next, data, requests());
        Files.write(new File(a[5]).toPath(),
                    record.renewHash(next, data, post(a[1], request)).getEncoded());
        break;
      }
      case "verify": {
        ERSEvidenceRecord record = read(a[1]);
        record.validatePresent(item(a[2]), new Date());
        X509CertificateHolder ca;
        try (PEMParser pem = new PEMParser(new FileReader(a[3]))) {
          ca = (X509CertificateHolder) pem.readObject();
        }
        for (ArchiveTimeStampChain chain :
             record.toASN1Structure().getArchiveTimeStampSequence().getArchiveTimeStampChains()) {
          for (ArchiveTimeStamp ats : chain.getArchiveTimestamps()) {
            ERSArchiveTimeStamp stamp = new ERSArchiveTimeStamp(ats, digests());
            X509CertificateHolder tsa = stamp.getSigningCertificate();
            stamp.validate(new JcaSimpleSignerInfoVerifierBuilder().build(tsa));
            if (!tsa.isSignatureValid(new JcaContentVerifierProviderBuilder().build(ca))) {
              throw new Exception("TSA certificate not issued by the CA");
            }
          }
        }
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
      System.out.println("refused: " + e);
      System.exit(1);
    }
  }
}
