package com.example.mod;

/** Entry point inside a named module. */
public class ModMain {
    public static void main(String[] args) {
        System.out.println("ModMain");
    }
}
