// Placeholder until the window program lands.
int main() {
  return 0;
}
