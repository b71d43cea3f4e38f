// Kept so the layer always has a source.
