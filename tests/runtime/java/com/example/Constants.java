package com.example;

import java.util.function.Supplier;

/**
 * Fills the constant pool with every kind of entry (long/double take two slots, method handles,
 * method types, invokedynamic, modified UTF-8 with a NUL and a supplementary character), so a
 * class-file reader that mis-sizes any entry loses track of the methods table.
 */
public class Constants {
    static final long BIG = 0x123456789ABCDEFL;
    static final double PI = 3.14159;
    static final float F = 1.5f;
    static final String ODD = "nul\0and\uD83D\uDE00 é";

    public static void main(String[] args) {
        Supplier<String> s = () -> ODD + BIG + PI + F;
        Runnable r = Constants::helper;
        r.run();
        System.out.println(s.get() + ("x" + args.length));
    }

    private static void helper() {
    }
}
