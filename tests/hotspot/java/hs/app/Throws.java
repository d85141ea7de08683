package hs.app;

// main ends with an exception.
public class Throws {
    public static void main(String[] args) {
        System.out.println("MAIN throwing");
        throw new IllegalStateException("boom from main");
    }
}
