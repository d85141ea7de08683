package com.example.agent;

import java.lang.instrument.Instrumentation;

/** A -javaagent whose jar names it as Premain-Class. */
public class Agent {
    public static void premain(String options, Instrumentation instrumentation) {
        System.out.println("agent loaded: " + options);
    }
}
