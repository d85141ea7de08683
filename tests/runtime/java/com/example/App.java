package com.example;

/** Plain application entry point used by the launcher's end-to-end tests. */
public class App {
    public static void main(String[] args) {
        System.out.println("App started with " + args.length + " argument(s)");
    }

    /** Instance method with the main signature: must not be taken for the entry point. */
    public void inst(String[] args) {
    }
}
