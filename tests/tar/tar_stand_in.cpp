int wmain() { return 1; }
