// Filled in with the message catalogue.
