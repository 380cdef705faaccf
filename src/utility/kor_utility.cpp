// Task finish functions (filled in with the command path).
