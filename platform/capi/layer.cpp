// Filled by the CryptoAPI stand-in; kept so the layer always has a source.
