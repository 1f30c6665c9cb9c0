"""A first look at quorix."""
import quorix

print("quorix", quorix.__version__)
