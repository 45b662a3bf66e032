// Replaced as the subsystem's sources land.
