// Replaced by the image decoders.
