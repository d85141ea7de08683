package com.example;

/** Its superclass is left out of the jars on purpose: loading must fail like HotSpot's. */
public class NeedsMissingBase extends MissingBase {
    public static void main(String[] args) {
    }
}
