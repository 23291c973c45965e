// The host request queue.
