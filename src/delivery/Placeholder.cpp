// Replaced by the delivery sources.
