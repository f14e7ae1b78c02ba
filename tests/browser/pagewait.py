"""What the browser tests share: waiting for a page to show a text."""
import time

from selenium.webdriver.common.by import By


def wait_for(d, text, timeout=10):
    """True once the page's body shows text, False after timeout seconds."""
    end = time.time() + timeout
    while time.time() < end:
        try:
            if text in d.find_element(By.TAG_NAME, "body").text:
                return True
        except Exception:
            pass
        time.sleep(0.05)
    return False
