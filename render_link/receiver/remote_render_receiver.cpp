// Filled in with the receiver.
