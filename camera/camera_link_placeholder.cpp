// Replaced by the serial link.
