// A launched program that ends at once, with exit code 3, and shows no window.
int main() {
    return 3;
}
