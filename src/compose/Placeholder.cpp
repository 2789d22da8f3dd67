// Replaced by the message assembly sources.
