// Filled in with the sender.
