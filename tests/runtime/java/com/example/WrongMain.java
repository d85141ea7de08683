package com.example;

/** main exists but is neither static nor of the entry-point signature. */
public class WrongMain {
    public void main(String[] args) {
    }

    public static void main(String arg) {
    }

    public static int main(int code) {
        return code;
    }
}
