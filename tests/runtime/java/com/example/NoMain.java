package com.example;

/** A class without any entry point. */
public class NoMain {
    public static int answer() {
        return 42;
    }
}
