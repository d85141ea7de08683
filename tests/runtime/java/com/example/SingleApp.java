package com.example;

/** Application that wants later starts handed over to the running instance. */
public class SingleApp {
    public static void main(String[] args) {
        System.out.println("SingleApp main");
    }

    public static void initSingleApplication(String[] args) {
        System.out.println("SingleApp second start: " + args.length + " argument(s)");
    }
}
