// The CryptoAPI stand-in grows here.
