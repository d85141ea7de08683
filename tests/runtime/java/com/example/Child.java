package com.example;

/** Inherits its static main from App: GetStaticMethodID must find it through the superclass. */
public class Child extends App {
}
