package com.quorvia.sample;

/** The sample application: greets whoever is named on the command line. */
public class Hello {
    public static void main(String[] args) {
        StringBuilder names = new StringBuilder();
        for (String arg : args) {
            if (names.length() > 0) names.append(", ");
            names.append(arg);
        }
        System.out.println("Hello from Java, " + (names.length() == 0 ? "world" : names) + "!");
    }
}
